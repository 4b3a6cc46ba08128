/* Tessel from C, or from any language that can call C functions
 * (examples/c/query.c is a complete program):
 *
 *   tessel_object* comm = NULL;
 *   tessel_error error;
 *   tessel_create_object("Tessel.clsComm", &comm, &error);
 *   tessel_variant on = tessel_boolean(1);
 *   tessel_call(comm, "IPortSetup_OnLine", TESSEL_LET, &on, 1, NULL, &error);
 *
 * The entry points of an in-process server, in their form for this system:
 *   tessel_class_count, tessel_class_at  list the creatable classes with their
 *                                         program identifiers and identifiers
 *                                         (there is no registry to write: the
 *                                         list is the registration);
 *   tessel_create_object                  creates one by either identifier;
 *   tessel_can_unload_now                 whether unloading the library now
 *                                         would leave objects behind.
 * and late-bound calls on the objects: tessel_call reaches the members of an
 * object's default interface by name, or those of a port interface on a
 * handle that tessel_query_interface returned. Names match without regard
 * to case; <tessel/late_bound.h> gives the rules of conversion and the errors.
 *
 * Results: every function that can fail returns 0, or the error's number
 * (never 0) after filling *error when error is not NULL. Error numbers and
 * texts are those of <tessel/error.h>: 438 unknown member, 449 argument not
 * optional, 450 wrong number of arguments, 13 type mismatch, 429 unknown
 * class, and the drivers' own.
 *
 * Memory: handles are released with tessel_release, each exactly once
 * (every handle holds the object; the object goes with its last handle).
 * Variants that the library fills (results, by-reference arguments) own
 * their text, bytes or handle: free them with tessel_variant_clear. Variants
 * that the caller passes are only read; tessel_string() wraps the caller's
 * text without copying it.
 *
 * By reference: an argument that the member writes to (IPort's SendE
 * vntReturn) is overwritten with what it wrote, owned by the library; pass
 * an Empty variant there and clear it after the call.
 *
 * Booleans: True is -1. A Boolean argument is True only when it holds -1;
 * tessel_boolean(nonzero) makes that value.
 *
 * Blocking: tessel_call blocks as long as the member does (a receive up to
 * its port's time-out). tessel_request_stop, from any thread or a signal
 * handler, ends every wait at once: receives return empty text quietly,
 * sends fail as timed out. tessel_clear_stop lets waits run again.
 *
 * Threads: an object's handles belong to the thread that created it; call
 * tessel_call and tessel_release for it only there. The class list,
 * tessel_can_unload_now and the stop requests may be used from any thread.
 */
#ifndef TESSEL_TESSEL_C_H
#define TESSEL_TESSEL_C_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#if defined(__GNUC__)
#define TESSEL_C_API __attribute__((visibility("default")))
#else
#define TESSEL_C_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* An object, or an object seen through one of its interfaces. */
typedef struct tessel_object tessel_object;

/* Same values as tessel::VarType. */
typedef enum tessel_vartype {
    TESSEL_EMPTY = 0,
    TESSEL_MISSING = 1, /* an optional argument left out */
    TESSEL_BOOLEAN = 2,
    TESSEL_INTEGER = 3, /* 16-bit */
    TESSEL_LONG = 4,    /* 32-bit */
    TESSEL_SINGLE = 5,
    TESSEL_DOUBLE = 6,
    TESSEL_STRING = 7,  /* one byte per character */
    TESSEL_BYTES = 8,
    TESSEL_OBJECT = 9
} tessel_vartype;

typedef struct tessel_variant {
    tessel_vartype type;
    union {
        int16_t boolean; /* -1 True, 0 False */
        int16_t integer;
        int32_t long_value;
        float single;
        double double_value;
        /* Text filled by the library ends with a NUL too (not counted). */
        struct {
            const char* data;
            size_t length;
        } string;
        struct {
            const uint8_t* data;
            size_t length;
            int32_t lower_bound;
        } bytes;
        tessel_object* object;
    } value;
} tessel_variant;

/* Same values as tessel::CallType. */
typedef enum tessel_calltype { TESSEL_METHOD = 1, TESSEL_GET = 2, TESSEL_LET = 4 } tessel_calltype;

/* An error with its five fields and the explanation for people (Detail).
 * Texts longer than their field are cut; each ends with a NUL. */
typedef struct tessel_error {
    int32_t number;
    char source[128];
    char description[512];
    char help_file[128];
    int32_t help_context;
    char detail[512];
} tessel_error;

typedef struct tessel_class_info {
    const char* name;                 /* "clsComm" */
    const char* prog_id;              /* "Tessel.clsComm" */
    const char* class_id;             /* fixed identifier, <tessel/identifiers.h> */
    const char* default_interface_id; /* of its default interface ("_clsComm") */
} tessel_class_info;

/* The number of creatable classes. Never fails. */
TESSEL_C_API size_t tessel_class_count(void);
/* Fills *info for class index (0 up to tessel_class_count() - 1); the texts
 * last as long as the library is loaded. Returns 9 for an index beyond the list. */
TESSEL_C_API int32_t tessel_class_at(size_t index, tessel_class_info* info);

/* Creates an object by program identifier ("Tessel.clsComm") or class
 * identifier (with or without braces, any case); *object receives its handle.
 * 429 when neither is known. Nothing is opened. */
TESSEL_C_API int32_t tessel_create_object(const char* identifier, tessel_object** object, tessel_error* error);

/* A further handle to the same object, seen through the interface named by
 * name ("IPort", "IPortSetup", ...) or identifier; 13 when the object does
 * not implement it. "" gives the object's default interface again. */
TESSEL_C_API int32_t tessel_query_interface(tessel_object* object, const char* interface_name,
                                            tessel_object** result, tessel_error* error);

/* Releases a handle (NULL is ignored). */
TESSEL_C_API void tessel_release(tessel_object* object);

/* Calls member through the handle's interface with args[0 .. count - 1];
 * *result (when not NULL) receives the member's value, Empty for none. */
TESSEL_C_API int32_t tessel_call(tessel_object* object, const char* member, tessel_calltype type,
                                 tessel_variant* args, size_t count, tessel_variant* result, tessel_error* error);

/* Frees what a variant filled by the library owns and makes it Empty. */
TESSEL_C_API void tessel_variant_clear(tessel_variant* variant);

/* 1 when no object of the library is alive, else 0. */
TESSEL_C_API int tessel_can_unload_now(void);

/* Ends every wait of every thread at once; any thread or a signal handler. */
TESSEL_C_API void tessel_request_stop(void);
/* Withdraws the stop request, so that waits run again. */
TESSEL_C_API void tessel_clear_stop(void);

/* Arguments made in place. */
static inline tessel_variant tessel_missing(void) {
    tessel_variant v;
    memset(&v, 0, sizeof v);
    v.type = TESSEL_MISSING;
    return v;
}
static inline tessel_variant tessel_boolean(int value) {
    tessel_variant v;
    memset(&v, 0, sizeof v);
    v.type = TESSEL_BOOLEAN;
    v.value.boolean = (int16_t)(value ? -1 : 0);
    return v;
}
static inline tessel_variant tessel_long(int32_t value) {
    tessel_variant v;
    memset(&v, 0, sizeof v);
    v.type = TESSEL_LONG;
    v.value.long_value = value;
    return v;
}
static inline tessel_variant tessel_double(double value) {
    tessel_variant v;
    memset(&v, 0, sizeof v);
    v.type = TESSEL_DOUBLE;
    v.value.double_value = value;
    return v;
}
/* Wraps text (NUL-terminated) without copying it. */
static inline tessel_variant tessel_string(const char* text) {
    tessel_variant v;
    memset(&v, 0, sizeof v);
    v.type = TESSEL_STRING;
    v.value.string.data = text;
    v.value.string.length = strlen(text);
    return v;
}

#ifdef __cplusplus
}
#endif

#endif /* TESSEL_TESSEL_C_H */
