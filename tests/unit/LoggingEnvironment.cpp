#include "LoggingEnvironment.h"

#include <cstdlib>

namespace profilermultiplexer::tests {

LoggingEnvironment::~LoggingEnvironment() {
    for (auto it = _saved.rbegin(); it != _saved.rend(); ++it) {
        if (it->second) {
            ::setenv(it->first.c_str(), it->second->c_str(), 1);
        } else {
            ::unsetenv(it->first.c_str());
        }
    }
}

void LoggingEnvironment::Set(std::string const& name, std::string const& value) {
    Remember(name);
    ::setenv(name.c_str(), value.c_str(), 1);
}

void LoggingEnvironment::Unset(std::string const& name) {
    Remember(name);
    ::unsetenv(name.c_str());
}

void LoggingEnvironment::Remember(std::string const& name) {
    char const* value = std::getenv(name.c_str());
    _saved.emplace_back(name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
}

} // namespace profilermultiplexer::tests
