#include "net/messages.h"

std::string FunctionNotFoundText(const std::string& name) {
    return "Function " + name + " not found";
}

std::string BodyTooLargeText(int64_t limit) {
    return "Response larger than " + std::to_string(limit) + " bytes";
}
