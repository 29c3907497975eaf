#include "net/messages.h"

std::string FunctionNotFoundText(const std::string& name) {
    return "Function " + name + " not found";
}
