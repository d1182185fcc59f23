// Sets or removes environment variables for a test and puts the earlier values back when destroyed.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace profilermultiplexer::tests {

class LoggingEnvironment {
public:
    LoggingEnvironment() = default;
    ~LoggingEnvironment();

    LoggingEnvironment(LoggingEnvironment const&) = delete;
    LoggingEnvironment& operator=(LoggingEnvironment const&) = delete;

    void Set(std::string const& name, std::string const& value);
    void Unset(std::string const& name);

private:
    void Remember(std::string const& name);

    std::vector<std::pair<std::string, std::optional<std::string>>> _saved;
};

} // namespace profilermultiplexer::tests
