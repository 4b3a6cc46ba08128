/* An instrument on the network asked who it is, from C: every call goes
 * through <tessel/tessel_c.h> by member name.
 *
 *   query [HOST [PORT [COMMAND]]]     127.0.0.1, 5025 and "*IDN?" by default
 *
 * It queries, then sends the command again checked (SendE), whose reply
 * comes back in a by-reference argument. */
#include <stdio.h>
#include <stdlib.h>

#include <tessel/tessel_c.h>

static int report(const tessel_error* error) {
    fprintf(stderr, "error %d from %s: %s\n", (int)error->number, error->source, error->description);
    if (error->detail[0]) fprintf(stderr, "%s\n", error->detail);
    return 1;
}

/* settings.Item(name).Value(-1, -1) = value, through the IPortSetup interface. */
static int32_t set_setting(tessel_object* eth, const char* name, tessel_variant value, tessel_error* error) {
    tessel_object* setup = NULL;
    tessel_variant settings, item, key = tessel_string(name);
    tessel_variant args[3];
    int32_t rc;
    args[0] = tessel_long(-1);
    args[1] = tessel_long(-1);
    args[2] = value;
    rc = tessel_query_interface(eth, "IPortSetup", &setup, error);
    if (rc == 0) rc = tessel_call(setup, "Settings", TESSEL_GET, NULL, 0, &settings, error);
    if (rc == 0) {
        rc = tessel_call(settings.value.object, "Item", TESSEL_GET, &key, 1, &item, error);
        if (rc == 0) rc = tessel_call(item.value.object, "Value", TESSEL_LET, args, 3, NULL, error);
        tessel_variant_clear(&item);
    }
    tessel_variant_clear(&settings);
    tessel_release(setup);
    return rc;
}

int main(int argc, char** argv) {
    const char* host = argc > 1 ? argv[1] : "127.0.0.1";
    const int32_t port = argc > 2 ? atoi(argv[2]) : 5025;
    const char* command = argc > 3 ? argv[3] : "*IDN?";
    tessel_object* eth = NULL;
    tessel_object* io = NULL;
    tessel_error error;
    tessel_variant on = tessel_boolean(1), off = tessel_boolean(0);
    tessel_variant query = tessel_string(command);
    tessel_variant checked[2];
    tessel_variant reply;
    int status = 0;

    if (tessel_create_object("Tessel.clsEthernet", &eth, &error) != 0) return report(&error);
    if (set_setting(eth, "Remote Host", tessel_string(host), &error) != 0 ||
        set_setting(eth, "Remote Port", tessel_long(port), &error) != 0 ||
        tessel_call(eth, "IPortSetup_OnLine", TESSEL_LET, &on, 1, NULL, &error) != 0) {
        status = report(&error);
    } else if (tessel_call(eth, "IPort_Receive", TESSEL_METHOD, &query, 1, &reply, &error) != 0) {
        status = report(&error);
    } else {
        printf("%s\n", reply.value.string.data);
        tessel_variant_clear(&reply);

        /* SendE is IPort's, not on the default interface; its reply comes back in checked[1]. */
        checked[0] = query;
        checked[1] = tessel_missing();
        checked[1].type = TESSEL_EMPTY;
        if (tessel_query_interface(eth, "IPort", &io, &error) != 0 ||
            tessel_call(io, "SendE", TESSEL_METHOD, checked, 2, NULL, &error) != 0) {
            status = report(&error);
        } else {
            printf("checked: %s\n", checked[1].type == TESSEL_STRING ? checked[1].value.string.data : "");
            tessel_variant_clear(&checked[1]);
        }
        tessel_release(io);
        tessel_call(eth, "IPortSetup_OnLine", TESSEL_LET, &off, 1, NULL, &error);
    }
    tessel_release(eth);
    return status;
}
