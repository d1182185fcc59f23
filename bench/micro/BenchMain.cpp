// The benchmarks run with the multiplexer's main logger at info level (trace off), as a production
// process would, writing to a log folder of their own.
//     pm_bench [Google Benchmark flags]
//     valgrind --tool=callgrind --collect-atstart=no pm_bench --instructions [iterations [name part]]
#include "logging/Logging.h"
#include "micro/InstructionCounter.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

namespace {

void StartMainLogger() {
    setenv("Tarnix_Agent_LogLevel", "info", 1);
    if (std::getenv("Tarnix_Agent_LogsFolder") == nullptr) {
        const auto folder = std::filesystem::temp_directory_path() / "pm_bench_logs";
        std::filesystem::create_directories(folder);
        setenv("Tarnix_Agent_LogsFolder", folder.c_str(), 1);
    }
    auto& manager = Singleton<profilermultiplexer::LoggerManager>::Instance();
    manager.SetLogLevel();
    manager.InitiateMainLogger(true);
    if (!profilermultiplexer::IsLogLevelEnabled(spdlog::level::info) ||
        profilermultiplexer::IsLogLevelEnabled(spdlog::level::debug)) {
        std::cerr << "pm_bench: the main logger is not at info level\n";
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv) {
    StartMainLogger();
    if (argc >= 2 && std::strcmp(argv[1], "--instructions") == 0) {
        const uint64_t iterations = argc >= 3 ? std::stoull(argv[2]) : 10000;
        pmbench::InstructionCounter::RunAll(iterations, argc >= 4 ? argv[3] : "");
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
