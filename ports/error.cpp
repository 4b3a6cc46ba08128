#include <tessel/error.h>

#include <tessel/host.h>

namespace tessel {

ComError::ComError(int32_t number, std::string source, std::string description, std::string helpFile,
                   int32_t helpContext, std::string detail)
    : Number(number),
      Source(std::move(source)),
      Description(std::move(description)),
      HelpFile(std::move(helpFile)),
      HelpContext(helpContext),
      Detail(std::move(detail)) {}

std::string RuntimeErrorText(int32_t number) {
    switch (number) {
    case kErrInvalidProcedureCall: return "Invalid procedure call or argument";
    case kErrOverflow: return "Overflow";
    case kErrOutOfMemory: return "Out of memory";
    case kErrSubscriptOutOfRange: return "Subscript out of range";
    case kErrTypeMismatch: return "Type mismatch";
    case kErrCannotCreateObject: return "Cannot create object";
    case kErrLibraryLoad: return "Error in loading DLL";
    case kErrInternal: return "Internal error";
    case kErrBadFileNameOrNumber: return "Bad file name or number";
    case kErrFileNotFound: return "File not found";
    case kErrObjectNotSet: return "Object variable or With block variable not set";
    case kErrLibraryFunctionNotFound: return "Specified DLL function not found";
    case kErrMemberNotFound: return "Object doesn't support this property or method";
    case kErrArgumentNotOptional: return "Argument not optional";
    case kErrWrongArgumentCount: return "Wrong number of arguments or invalid property assignment";
    default: return "Application-defined or object-defined error";
    }
}

void RaiseRuntimeError(int32_t number, std::string description) {
    if (description.empty()) description = RuntimeErrorText(number);
    RaiseError(number, kRuntimeSource, description);
}

}  // namespace tessel
