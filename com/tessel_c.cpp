// The C entry points: handles over shared objects, C variants over Variants,
// and every C++ failure turned into a returned number and an error record.
#include <tessel/tessel_c.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include <tessel/error.h>
#include <tessel/host.h>
#include <tessel/late_bound.h>

#include "com/dispatch.h"

struct tessel_object {
    std::shared_ptr<tessel::Object> object;
    std::string interfaceName;  // empty: the default interface
};

namespace tessel {
namespace {

void CopyText(char* field, std::size_t size, const std::string& text) {
    const std::size_t n = std::min(size - 1, text.size());
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

// Runs one entry point: its failures become the number returned and *error.
template <class F>
int32_t Guarded(tessel_error* error, F&& body) {
    ComError caught(0, "", "");
    try {
        body();
        return 0;
    } catch (const ComError& e) {
        caught = e;
    } catch (const std::bad_alloc&) {
        caught = ComError(kErrOutOfMemory, kRuntimeSource, RuntimeErrorText(kErrOutOfMemory));
    } catch (const std::exception& e) {
        caught = ComError(kErrInternal, kRuntimeSource, RuntimeErrorText(kErrInternal), {}, 0, e.what());
    }
    if (error) {
        error->number = caught.Number;
        CopyText(error->source, sizeof error->source, caught.Source);
        CopyText(error->description, sizeof error->description, caught.Description);
        CopyText(error->help_file, sizeof error->help_file, caught.HelpFile);
        error->help_context = caught.HelpContext;
        CopyText(error->detail, sizeof error->detail, caught.Detail);
    }
    return caught.Number;
}

Variant FromC(const tessel_variant& v) {
    switch (v.type) {
        case TESSEL_EMPTY: return {};
        case TESSEL_MISSING: return Variant::Missing();
        case TESSEL_BOOLEAN: return Variant::RawBoolean(v.value.boolean);
        case TESSEL_INTEGER: return Variant(v.value.integer);
        case TESSEL_LONG: return Variant(v.value.long_value);
        case TESSEL_SINGLE: return Variant(v.value.single);
        case TESSEL_DOUBLE: return Variant(v.value.double_value);
        case TESSEL_STRING:
            return Variant(std::string(v.value.string.data ? v.value.string.data : "", v.value.string.length));
        case TESSEL_BYTES: {
            const uint8_t* data = v.value.bytes.data;
            return Variant(ByteArray{{data, data + (data ? v.value.bytes.length : 0)}, v.value.bytes.lower_bound});
        }
        case TESSEL_OBJECT:
            return v.value.object ? Variant(v.value.object->object) : Variant(std::shared_ptr<Object>());
    }
    RaiseRuntimeError(kErrTypeMismatch, "Unknown variant type " + std::to_string(static_cast<int>(v.type)));
}

// Copies what the caller gets to own: text and bytes with malloc, objects as new handles.
tessel_variant ToC(const Variant& v) {
    tessel_variant out = tessel_missing();
    out.type = static_cast<tessel_vartype>(v.Type());
    switch (v.Type()) {
        case VarType::Empty:
        case VarType::Missing: break;
        case VarType::Boolean: out.value.boolean = v.RawBooleanValue(); break;
        case VarType::Integer: out.value.integer = v.ToInteger(); break;
        case VarType::Long: out.value.long_value = v.ToLong(); break;
        case VarType::Single: out.value.single = v.ToSingle(); break;
        case VarType::Double: out.value.double_value = v.ToDouble(); break;
        case VarType::String: {
            const std::string text = v.ToString();
            auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
            if (!copy) throw std::bad_alloc();
            std::memcpy(copy, text.data(), text.size());
            copy[text.size()] = '\0';
            out.value.string = {copy, text.size()};
            break;
        }
        case VarType::Bytes: {
            const ByteArray& array = v.AsBytes();
            auto* copy = static_cast<uint8_t*>(std::malloc(array.bytes.empty() ? 1 : array.bytes.size()));
            if (!copy) throw std::bad_alloc();
            std::memcpy(copy, array.bytes.data(), array.bytes.size());
            out.value.bytes = {copy, array.bytes.size(), array.lowerBound};
            break;
        }
        case VarType::Object:
            out.value.object = v.AsObject() ? new tessel_object{v.AsObject(), {}} : nullptr;
            break;
    }
    return out;
}

tessel_variant EmptyVariant() {
    tessel_variant v = tessel_missing();
    v.type = TESSEL_EMPTY;
    return v;
}

void RequireHandle(const void* handle, const char* what) {
    if (!handle) RaiseRuntimeError(kErrObjectNotSet, std::string(RuntimeErrorText(kErrObjectNotSet)) + ": " + what);
}

}  // namespace
}  // namespace tessel

using namespace tessel;

extern "C" {

size_t tessel_class_count(void) { return com::ClassTables().size(); }

int32_t tessel_class_at(size_t index, tessel_class_info* info) {
    const auto tables = com::ClassTables();
    if (index >= tables.size() || !info) return kErrSubscriptOutOfRange;
    // The tables' texts are literals, so they end with a NUL and live as long as the library.
    const com::Table& t = *tables[index];
    *info = {t.name.data(), t.progId.data(), t.classId.data(), t.interfaceId.data()};
    return 0;
}

int32_t tessel_create_object(const char* identifier, tessel_object** object, tessel_error* error) {
    return Guarded(error, [&] {
        RequireHandle(object, "no place for the new object");
        *object = nullptr;
        auto created = CreateObjectById(identifier ? identifier : "");
        *object = new tessel_object{std::move(created), {}};
    });
}

int32_t tessel_query_interface(tessel_object* object, const char* interface_name, tessel_object** result,
                               tessel_error* error) {
    return Guarded(error, [&] {
        RequireHandle(object, "no object");
        RequireHandle(result, "no place for the interface");
        *result = nullptr;
        const std::string name = interface_name ? interface_name : "";
        com::InterfaceOf(*object->object, name);
        *result = new tessel_object{object->object, name};
    });
}

void tessel_release(tessel_object* object) { delete object; }

int32_t tessel_call(tessel_object* object, const char* member, tessel_calltype type, tessel_variant* args,
                    size_t count, tessel_variant* result, tessel_error* error) {
    if (result) *result = EmptyVariant();
    return Guarded(error, [&] {
        RequireHandle(object, "no object");
        std::vector<Variant> values;
        values.reserve(count);
        for (size_t i = 0; i < count; ++i) values.push_back(FromC(args[i]));
        const std::vector<Variant> passed = values;
        Variant value = CallByName(*object->object, member ? member : "", static_cast<CallType>(type), values,
                                   object->interfaceName);
        // What a member wrote to a by-reference argument goes back to the caller.
        for (size_t i = 0; i < count; ++i)
            if (!(values[i] == passed[i])) args[i] = ToC(values[i]);
        if (result) *result = ToC(value);
    });
}

void tessel_variant_clear(tessel_variant* variant) {
    if (!variant) return;
    switch (variant->type) {
        case TESSEL_STRING: std::free(const_cast<char*>(variant->value.string.data)); break;
        case TESSEL_BYTES: std::free(const_cast<uint8_t*>(variant->value.bytes.data)); break;
        case TESSEL_OBJECT: delete variant->value.object; break;
        default: break;
    }
    *variant = EmptyVariant();
}

int tessel_can_unload_now(void) { return CanUnloadNow() ? 1 : 0; }

void tessel_request_stop(void) { DefaultHostControl().RequestStop(); }

void tessel_clear_stop(void) { DefaultHostControl().Reset(); }

}  // extern "C"
