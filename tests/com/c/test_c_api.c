/* Tessel driven from C alone: classes listed, an object created by its
 * identifier, its settings written through an interface, a query over a
 * loopback connection to a peer this program plays, and the errors a C
 * caller sees. Exits 0 when every check holds; prints each failed check. */
#include <tessel/tessel_c.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static int failures = 0;

#define CHECK(condition) \
    ((condition) ? (void)0 : (void)(fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition), failures++))

static int same_text(const tessel_variant* v, const char* text) {
    return v->type == TESSEL_STRING && v->value.string.length == strlen(text) &&
           memcmp(v->value.string.data, text, strlen(text)) == 0;
}

/* Writes value into the setting name of obj's settings, all by name. */
static int32_t set_setting(tessel_object* obj, const char* name, tessel_variant value, tessel_error* error) {
    tessel_object* setup = NULL;
    tessel_variant settings = tessel_missing(), item = tessel_missing(), key = tessel_string(name);
    tessel_variant args[3] = {tessel_long(-1), tessel_long(-1), value};
    int32_t rc = tessel_query_interface(obj, "IPortSetup", &setup, error);
    if (rc == 0) rc = tessel_call(setup, "Settings", TESSEL_GET, NULL, 0, &settings, error);
    if (rc == 0) rc = tessel_call(settings.value.object, "Item", TESSEL_GET, &key, 1, &item, error);
    if (rc == 0) rc = tessel_call(item.value.object, "Value", TESSEL_LET, args, 3, NULL, error);
    tessel_variant_clear(&item);
    tessel_variant_clear(&settings);
    tessel_release(setup);
    return rc;
}

/* Every class in the list; returns clsEthernet's class identifier. */
static const char* test_class_list(void) {
    size_t i, count = tessel_class_count();
    const char* ethernet = NULL;
    tessel_class_info info;
    CHECK(count >= 3);
    for (i = 0; i < count; i++) {
        CHECK(tessel_class_at(i, &info) == 0);
        CHECK(strncmp(info.prog_id, "Tessel.", 7) == 0 && strcmp(info.prog_id + 7, info.name) == 0);
        CHECK(strlen(info.class_id) == 36 && strlen(info.default_interface_id) == 36);
        if (strcmp(info.name, "clsEthernet") == 0) ethernet = info.class_id;
    }
    CHECK(tessel_class_at(count, &info) == 9);
    return ethernet;
}

static void test_errors(void) {
    tessel_object* obj = (tessel_object*)&obj; /* must be reset on failure */
    tessel_object* timer = NULL;
    tessel_object* port = NULL;
    tessel_error error;
    tessel_variant none = tessel_missing();
    CHECK(tessel_create_object("Tessel.clsModem", &obj, &error) == 429);
    CHECK(obj == NULL && error.number == 429 && strcmp(error.source, "Tessel") == 0);
    CHECK(strstr(error.description, "Tessel.clsModem") != NULL);

    CHECK(tessel_create_object("tessel.clstimeout", &timer, &error) == 0);
    CHECK(tessel_call(timer, "Frobnicate", TESSEL_METHOD, NULL, 0, NULL, &error) == 438);
    CHECK(strcmp(error.description, "Object doesn't support this property or method") == 0);
    CHECK(tessel_call(timer, "Interval", TESSEL_LET, &none, 1, NULL, &error) == 449);
    CHECK(tessel_call(timer, "State", TESSEL_LET, &none, 1, NULL, &error) == 450);
    CHECK(tessel_query_interface(timer, "IPort", &port, &error) == 13 && port == NULL);
    CHECK(tessel_call(NULL, "State", TESSEL_GET, NULL, 0, NULL, &error) == 91);
    tessel_release(timer);
}

static void test_query(const char* class_id) {
    int listener = socket(AF_INET, SOCK_STREAM, 0), peer = -1;
    struct sockaddr_in address = {AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {0}};
    socklen_t length = sizeof address;
    tessel_object* eth = NULL;
    tessel_error error;
    tessel_variant result, on = tessel_boolean(1), off = tessel_boolean(0), query = tessel_string("*IDN?");
    char id[40], sent[64] = "";
    struct pollfd p;

    CHECK(bind(listener, (struct sockaddr*)&address, sizeof address) == 0 && listen(listener, 1) == 0);
    CHECK(getsockname(listener, (struct sockaddr*)&address, &length) == 0);
    snprintf(id, sizeof id, "{%s}", class_id ? class_id : ""); /* by class identifier, in braces */
    CHECK(tessel_create_object(id, &eth, &error) == 0);
    if (!eth) return;
    CHECK(tessel_can_unload_now() == 0);

    CHECK(set_setting(eth, "Remote Host", tessel_string("127.0.0.1"), &error) == 0);
    CHECK(set_setting(eth, "Remote Port", tessel_long(ntohs(address.sin_port)), &error) == 0);
    CHECK(tessel_call(eth, "IPortSetup_OnLine", TESSEL_LET, &on, 1, NULL, &error) == 0);
    CHECK(tessel_call(eth, "IPortSetup_OnLine", TESSEL_GET, NULL, 0, &result, &error) == 0);
    CHECK(result.type == TESSEL_BOOLEAN && result.value.boolean == -1);
    CHECK((peer = accept(listener, NULL, NULL)) >= 0);

    CHECK(tessel_call(eth, "iport_send", TESSEL_METHOD, &query, 1, NULL, &error) == 0);
    p.fd = peer, p.events = POLLIN;
    CHECK(poll(&p, 1, 5000) == 1 && read(peer, sent, sizeof sent - 1) == 6 && strcmp(sent, "*IDN?\n") == 0);
    CHECK(write(peer, "C peer,1\r\n", 10) == 10);
    CHECK(tessel_call(eth, "IPort_Receive", TESSEL_METHOD, NULL, 0, &result, &error) == 0);
    CHECK(same_text(&result, "C peer,1"));
    tessel_variant_clear(&result);
    CHECK(result.type == TESSEL_EMPTY);
    CHECK(tessel_call(eth, "IPort_Count", TESSEL_GET, NULL, 0, &result, &error) == 0);
    CHECK(result.type == TESSEL_LONG && result.value.long_value == 8);

    /* A stop request (a Ctrl+C handler's) ends a receive quietly, with nothing. */
    tessel_request_stop();
    CHECK(tessel_call(eth, "IPort_Receive", TESSEL_METHOD, NULL, 0, &result, &error) == 0);
    CHECK(same_text(&result, ""));
    tessel_variant_clear(&result);
    tessel_clear_stop();

    /* Nothing comes: the driver's time-out reaches C with all its fields. */
    CHECK(tessel_call(eth, "IPort_Receive", TESSEL_METHOD, NULL, 0, &result, &error) == -2147219489);
    CHECK(strcmp(error.source, "clsEthernet.IPort_Receive") == 0);
    CHECK(strncmp(error.description, "Receive timed out", 17) == 0);
    CHECK(result.type == TESSEL_EMPTY);

    CHECK(tessel_call(eth, "IPortSetup_OnLine", TESSEL_LET, &off, 1, NULL, &error) == 0);
    tessel_release(eth);
    CHECK(tessel_can_unload_now() == 1);
    close(peer);
    close(listener);
}

int main(void) {
    test_query(test_class_list());
    test_errors();
    if (failures) fprintf(stderr, "%d check(s) failed\n", failures);
    return failures ? 1 : 0;
}
