// The server's load tool: N simulated launchers (default 1,000) on loopback, each doing what a
// launcher does in a session: connect, create its account and log in, list the users, join a
// shared world, stream positions, leave, send a data file and log out. It prints logins per
// second, request latencies, position relay latencies and file bytes per second, each beside
// its floor measured in the same run. A benchmark, not a test: it judges nothing.
#include "floors.h"
#include "load_client.h"
#include "postgres_cluster.h"
#include "server/options.h"
#include "server_process.h"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/strand.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <sstream>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

using load::LoadClient;
using Step = asio::awaitable<bool> (LoadClient::*)();

const char* const kHelp =
    "Usage: server_load [OPTION]...\n"
    "Starts pelora-server on a loopback port (or uses --connect) and runs N simulated\n"
    "launchers against it: connect, create account, login, users, join, positions, leave,\n"
    "send a file, logout. Prints throughput and latency figures beside their floors.\n"
    "  --clients N          simulated launchers (default 1000)\n"
    "  --world-size N       launchers per shared world (default 10)\n"
    "  --positions N        positions each launcher sends (default 50)\n"
    "  --rate HZ            positions per second per launcher (default 5)\n"
    "  --file-size BYTES    data file each launcher sends (default 65536)\n"
    "  --argon2-ops N       the started server's hash passes (default: the server's, 2)\n"
    "  --argon2-memory KIB  the started server's hash memory (default: the server's, 19456)\n"
    "  --server PATH        the pelora-server binary to start\n"
    "  --connect HOST:PORT  use a running server instead (its hash cost must then be given\n"
    "                       with --argon2-ops and --argon2-memory for the floor); given\n"
    "                       several times, the clients are spread over the servers\n"
    "  --instances N        start N servers (default 1), the clients spread over them; with\n"
    "                       more than one, --database is needed\n"
    "  --database URL       the started servers' postgresql:// database (default: SQLite)\n"
    "  --compare            one run, side by side: one server on SQLite, one on PostgreSQL,\n"
    "                       two on PostgreSQL (a throwaway PostgreSQL 15 cluster is made)\n";

struct Arguments {
    load::Settings settings;
    std::uint64_t argon2Ops = server::ServerOptions().argon2Ops;
    std::uint64_t argon2MemoryKiB = server::ServerOptions().argon2MemoryKiB;
    bool argon2Given = false;
    std::string serverProgram = PELORA_SERVER_PROGRAM;
    std::vector<std::string> connect;
    int instances = 1;
    std::string database;
    bool compare = false;
};

bool ParseArguments(int argc, char** argv, Arguments& arguments) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--help") {
            std::fputs(kHelp, stdout);
            std::exit(0);
        }
        if (name == "--compare") {
            arguments.compare = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "server_load: %s needs a value (see --help)\n", name.c_str());
            return false;
        }
        std::string value = argv[++i];
        auto number = [&] { return std::strtod(value.c_str(), nullptr); };
        if (name == "--clients")
            arguments.settings.clients = std::max(1, static_cast<int>(number()));
        else if (name == "--world-size")
            arguments.settings.worldSize = std::clamp(static_cast<int>(number()), 1, 100);
        else if (name == "--positions")
            arguments.settings.positions = std::max(0, static_cast<int>(number()));
        else if (name == "--rate")
            arguments.settings.rate = std::clamp(number(), 0.1, 1000.0);
        else if (name == "--file-size")
            arguments.settings.fileBytes = static_cast<std::size_t>(std::max(0.0, number()));
        else if (name == "--argon2-ops")
            arguments.argon2Ops = static_cast<std::uint64_t>(number()),
            arguments.argon2Given = true;
        else if (name == "--argon2-memory")
            arguments.argon2MemoryKiB = static_cast<std::uint64_t>(number()),
            arguments.argon2Given = true;
        else if (name == "--server")
            arguments.serverProgram = value;
        else if (name == "--connect")
            arguments.connect.push_back(value);
        else if (name == "--instances")
            arguments.instances = std::clamp(static_cast<int>(number()), 1, 16);
        else if (name == "--database")
            arguments.database = value;
        else {
            std::fprintf(stderr, "server_load: unknown option %s (see --help)\n", name.c_str());
            return false;
        }
    }
    return true;
}

// CPU seconds (user and system) a process has used so far; 0 when unknown.
double ProcessCpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    auto close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double user = 0, system = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14)
            user = std::atof(field.c_str());
        if (i == 15) {
            system = std::atof(field.c_str());
            break;
        }
    }
    return (user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double Percentile(std::vector<double>& values, double fraction) {
    if (values.empty())
        return 0;
    std::size_t at = static_cast<std::size_t>(std::ceil(fraction * values.size())) - 1;
    return values[std::min(at, values.size() - 1)];
}

void PrintLatencies(const char* kind, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::printf("  %-24s %9.2f %9.2f %9.2f %9.2f %8zu\n", kind, 1000 * Percentile(values, 0.5),
                1000 * Percentile(values, 0.9), 1000 * Percentile(values, 0.99),
                values.empty() ? 0.0 : 1000 * values.back(), values.size());
}

// Runs one step on every client still standing, all at once; gives how many succeeded and
// the wall time.
std::pair<int, double> RunStep(std::vector<std::shared_ptr<LoadClient>>& clients,
                               std::vector<bool>& alive, Step step) {
    std::atomic<int> pending{0}, ok{0};
    std::promise<void> done;
    for (std::size_t i = 0; i < clients.size(); ++i)
        pending += alive[i] ? 1 : 0;
    if (pending == 0)
        return {0, 0};
    auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < clients.size(); ++i) {
        if (!alive[i])
            continue;
        auto client = clients[i];
        asio::co_spawn(
            client->Executor(),
            [client, step, i, &alive, &pending, &ok, &done]() -> asio::awaitable<void> {
                bool success = co_await ((*client).*step)();
                alive[i] = success;
                if (success)
                    ++ok;
                if (--pending == 0)
                    done.set_value();
            },
            asio::detached);
    }
    done.get_future().wait();
    return {ok.load(),
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
}

// The figures of one configuration, for the side-by-side summary.
struct Outcome {
    std::string label;
    int logins = 0, files = 0;
    double loginSeconds = 0, fileSeconds = 0;
    std::vector<double> relay, relayWithin, relayAcross;
};

// Starts `count` servers on one data folder (and one database when given).
bool StartServers(const Arguments& arguments, int count, const std::string& dataDir,
                  const std::string& database,
                  std::vector<std::unique_ptr<pelora_test::ServerProcess>>& servers,
                  std::vector<asio::ip::tcp::endpoint>& endpoints) {
    const load::Settings& settings = arguments.settings;
    std::string most = std::to_string(settings.clients + 100);
    // Every simulated launcher comes from 127.0.0.1: the per-address limits must take them.
    std::vector<std::string> serverArguments = {"--max-connections",
                                                most,
                                                "--max-users",
                                                most,
                                                "--max-creates-per-address",
                                                most,
                                                "--log-level",
                                                "warn",
                                                "--max-connections-per-address",
                                                most,
                                                "--throttle-address-failures",
                                                most,
                                                "--staff-port",
                                                "0"};
    if (arguments.argon2Given) {
        serverArguments.insert(serverArguments.end(),
                               {"--argon2-ops", std::to_string(arguments.argon2Ops),
                                "--argon2-memory", std::to_string(arguments.argon2MemoryKiB)});
    }
    if (!database.empty())
        serverArguments.insert(serverArguments.end(), {"--database", database});
    for (int i = 0; i < count; ++i) {
        std::vector<std::string> own = serverArguments;
        own.insert(own.end(), {"--log-file", dataDir + "/server" + std::to_string(i) + ".log"});
        servers.push_back(std::make_unique<pelora_test::ServerProcess>());
        std::string error;
        if (!servers.back()->Start(arguments.serverProgram, dataDir + "/data", own, error)) {
            std::fprintf(stderr, "server_load: %s\n", error.c_str());
            return false;
        }
        endpoints.emplace_back(asio::ip::make_address("127.0.0.1"),
                               static_cast<unsigned short>(servers.back()->Port()));
    }
    return true;
}

double ServersCpu(const std::vector<std::unique_ptr<pelora_test::ServerProcess>>& servers) {
    double total = 0;
    for (const auto& server : servers)
        if (server->Running())
            total += ProcessCpuSeconds(server->Pid());
    return total;
}

// Runs every phase with the clients spread over the endpoints, printing a line per phase.
Outcome RunLoad(const Arguments& arguments, const std::vector<asio::ip::tcp::endpoint>& endpoints,
                const std::vector<std::unique_ptr<pelora_test::ServerProcess>>& servers) {
    load::Settings settings = arguments.settings;
    settings.instances = static_cast<int>(endpoints.size());
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    asio::io_context io;
    auto work = asio::make_work_guard(io);
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < cores; ++i)
        threads.emplace_back([&io] { io.run(); });
    asio::ssl::context tls(asio::ssl::context::tls_client);
    tls.set_verify_mode(asio::ssl::verify_none); // the load tool measures, it does not trust
    std::mt19937 random(1);
    std::string file(settings.fileBytes, '\0');
    for (char& c : file)
        c = static_cast<char>(random());

    std::vector<std::shared_ptr<LoadClient>> clients;
    for (int i = 0; i < settings.clients; ++i)
        clients.push_back(
            std::make_shared<LoadClient>(asio::make_strand(io), tls, i, settings, file));
    std::vector<bool> alive(clients.size(), true);

    struct Phase {
        const char* name;
        Step step;
    };
    const Phase phases[] = {
        {"connect + hello", nullptr},   {"create account", &LoadClient::Create},
        {"login", &LoadClient::Login},  {"users", &LoadClient::Users},
        {"join", &LoadClient::Join},    {"drive (positions)", &LoadClient::Drive},
        {"leave", &LoadClient::Leave},  {"send file", &LoadClient::SendFile},
        {"logout", &LoadClient::Logout}};
    std::printf("%-20s %11s %9s %12s %14s %12s\n", "phase", "ok/total", "wall s", "per second",
                "server CPU s", "tool CPU s");
    Outcome outcome;
    for (const Phase& phase : phases) {
        double serverCpu = ServersCpu(servers);
        double toolCpu = ProcessCpuSeconds(::getpid());
        std::pair<int, double> result;
        if (!phase.step) {
            // Connecting takes the endpoint; the other steps do not.
            std::atomic<int> pending{settings.clients}, ok{0};
            std::promise<void> done;
            auto start = std::chrono::steady_clock::now();
            for (std::size_t i = 0; i < clients.size(); ++i) {
                auto client = clients[i];
                auto endpoint = endpoints[i % endpoints.size()];
                asio::co_spawn(
                    client->Executor(),
                    [client, i, endpoint, &alive, &pending, &ok, &done]() -> asio::awaitable<void> {
                        alive[i] = co_await client->Connect(endpoint);
                        if (alive[i])
                            ++ok;
                        if (--pending == 0)
                            done.set_value();
                    },
                    asio::detached);
            }
            done.get_future().wait();
            result = {
                ok.load(),
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
        } else {
            result = RunStep(clients, alive, phase.step);
        }
        serverCpu = ServersCpu(servers) - serverCpu;
        toolCpu = ProcessCpuSeconds(::getpid()) - toolCpu;
        std::printf("%-20s %5d/%-5d %9.2f %12.1f %14.2f %12.2f\n", phase.name, result.first,
                    settings.clients, result.second,
                    result.second > 0 ? result.first / result.second : 0.0, serverCpu, toolCpu);
        std::fflush(stdout);
        if (phase.step == &LoadClient::Login)
            outcome.logins = result.first, outcome.loginSeconds = result.second;
        if (phase.step == &LoadClient::SendFile)
            outcome.files = result.first, outcome.fileSeconds = result.second;
    }
    work.reset();
    for (auto& client : clients)
        asio::post(client->Executor(), [client] { client->Close(); });
    io.stop();
    for (auto& thread : threads)
        thread.join();

    std::map<std::string, std::vector<double>> latency;
    std::vector<std::string> failures;
    for (auto& client : clients) {
        for (auto& [kind, values] : client->samples.latency)
            latency[kind].insert(latency[kind].end(), values.begin(), values.end());
        const load::Samples& samples = client->samples;
        outcome.relay.insert(outcome.relay.end(), samples.relay.begin(), samples.relay.end());
        outcome.relayWithin.insert(outcome.relayWithin.end(), samples.relayWithin.begin(),
                                   samples.relayWithin.end());
        outcome.relayAcross.insert(outcome.relayAcross.end(), samples.relayAcross.begin(),
                                   samples.relayAcross.end());
        if (!client->failure.empty() && failures.size() < 5)
            failures.push_back(client->failure);
    }
    std::printf("\nRequest latency, ms:         p50       p90       p99       max    count\n");
    for (auto& [kind, values] : latency)
        PrintLatencies(kind.c_str(), values);
    PrintLatencies("position relay", outcome.relay);
    if (endpoints.size() > 1) {
        PrintLatencies("  within an instance", outcome.relayWithin);
        PrintLatencies("  across instances", outcome.relayAcross);
    }
    for (const std::string& failure : failures)
        std::printf("failure: %s\n", failure.c_str());
    std::printf("\n");
    return outcome;
}

} // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    if (!ParseArguments(argc, argv, arguments))
        return 2;
    const load::Settings& settings = arguments.settings;
    if (arguments.instances > 1 && arguments.database.empty() && !arguments.compare) {
        std::fprintf(stderr, "server_load: several instances need --database (see --help)\n");
        return 2;
    }
    rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    double fileTotal = static_cast<double>(settings.fileBytes) * settings.clients;

    std::printf("pelora-server load: %d clients, worlds of %d, %d positions at %.1f/s each, "
                "files of %zu bytes, %u cores\n\n",
                settings.clients, settings.worldSize, settings.positions, settings.rate,
                settings.fileBytes, cores);
    std::printf("Floors (measured now, on this machine):\n");
    double hash = load::HashSeconds(arguments.argon2Ops, arguments.argon2MemoryKiB);
    double parallel = load::HashesPerSecond(arguments.argon2Ops, arguments.argon2MemoryKiB, cores);
    std::printf("  one argon2id hash (t=%llu, m=%llu KiB): %.1f ms -> %u cores / hash time = "
                "%.1f logins/s; %u threads hashing at once: %.1f hashes/s\n",
                static_cast<unsigned long long>(arguments.argon2Ops),
                static_cast<unsigned long long>(arguments.argon2MemoryKiB), 1000 * hash, cores,
                hash > 0 ? cores / hash : 0.0, cores, parallel);
    auto trips = load::LoopbackRoundTrips(2000);
    std::sort(trips.begin(), trips.end());
    double tripP50 = Percentile(trips, 0.5), tripP99 = Percentile(trips, 0.99);
    std::printf("  loopback TCP round trip: p50 %.3f ms, p99 %.3f ms\n", 1000 * tripP50,
                1000 * tripP99);
    double copy = load::LoopbackCopySeconds(static_cast<std::size_t>(fileTotal));
    std::printf("  raw loopback TCP copy of the same %.1f MB of file bytes: %.3f s = %.1f MB/s\n",
                fileTotal / 1e6, copy, copy > 0 ? fileTotal / 1e6 / copy : 0.0);
    char pattern[] = "/tmp/pelora-load-XXXXXX";
    if (!::mkdtemp(pattern)) {
        std::perror("server_load: mkdtemp");
        return 1;
    }
    std::string dataDir = pattern;
    double disk = load::DurableWriteSeconds(settings.clients, settings.fileBytes, dataDir);
    std::printf("  durable writes of the same %d files (write, fsync, rename, fsync folder): "
                "%.3f s = %.1f MB/s, %.0f files/s\n\n",
                settings.clients, disk, disk > 0 ? fileTotal / 1e6 / disk : 0.0,
                disk > 0 ? settings.clients / disk : 0.0);
    std::fflush(stdout);

    struct Configuration {
        std::string label;
        int instances;
        std::string database; // "" SQLite; "new" a fresh database of the throwaway cluster
    };
    std::vector<Configuration> configurations;
    pelora_test::PostgresCluster postgres;
    if (arguments.compare) {
        std::string error;
        if (!postgres.Start(error)) {
            std::fprintf(stderr, "server_load: PostgreSQL could not be started: %s\n",
                         error.c_str());
            return 1;
        }
        configurations = {{"1 instance, SQLite", 1, ""},
                          {"1 instance, PostgreSQL", 1, "new"},
                          {"2 instances, PostgreSQL", 2, "new"}};
    } else if (arguments.connect.empty()) {
        configurations = {{std::to_string(arguments.instances) + " instances, " +
                               (arguments.database.empty() ? "SQLite" : "PostgreSQL"),
                           arguments.instances, arguments.database}};
    }

    std::vector<Outcome> outcomes;
    if (!arguments.connect.empty()) {
        std::vector<asio::ip::tcp::endpoint> endpoints;
        for (const std::string& connect : arguments.connect) {
            auto colon = connect.rfind(':');
            asio::error_code error;
            auto address = asio::ip::make_address(connect.substr(0, colon), error);
            if (error || colon == std::string::npos) {
                std::fprintf(stderr, "server_load: --connect wants an IP address and a port\n");
                return 2;
            }
            endpoints.emplace_back(
                address, static_cast<unsigned short>(std::atoi(connect.c_str() + colon + 1)));
        }
        outcomes.push_back(RunLoad(arguments, endpoints, {}));
        outcomes.back().label = std::to_string(endpoints.size()) + " running servers";
    }
    for (std::size_t i = 0; i < configurations.size(); ++i) {
        const Configuration& configuration = configurations[i];
        std::string database = configuration.database;
        if (database == "new") {
            std::string name = "load" + std::to_string(i), error;
            if (!postgres.CreateDatabase(name, error)) {
                std::fprintf(stderr, "server_load: %s\n", error.c_str());
                return 1;
            }
            database = postgres.Url(name);
        }
        std::string folder = dataDir + "/run" + std::to_string(i);
        std::vector<std::unique_ptr<pelora_test::ServerProcess>> servers;
        std::vector<asio::ip::tcp::endpoint> endpoints;
        std::printf("== %s\n", configuration.label.c_str());
        if (!StartServers(arguments, configuration.instances, folder, database, servers, endpoints))
            return 1;
        outcomes.push_back(RunLoad(arguments, endpoints, servers));
        outcomes.back().label = configuration.label;
        for (auto& server : servers)
            server->Stop();
    }

    std::printf("Side by side, each beside its floor:\n");
    std::printf("  %-26s %10s %11s %11s %11s %11s %9s\n", "", "logins/s", "relay p50", "relay p99",
                "across p50", "across p99", "files/s");
    for (Outcome& outcome : outcomes) {
        std::vector<double> within = outcome.relayWithin, across = outcome.relayAcross;
        std::sort(within.begin(), within.end());
        std::sort(across.begin(), across.end());
        std::printf("  %-26s %10.1f %8.3f ms %8.3f ms %8.3f ms %8.3f ms %9.0f\n",
                    outcome.label.c_str(),
                    outcome.loginSeconds > 0 ? outcome.logins / outcome.loginSeconds : 0.0,
                    1000 * Percentile(within, 0.5), 1000 * Percentile(within, 0.99),
                    1000 * Percentile(across, 0.5), 1000 * Percentile(across, 0.99),
                    outcome.fileSeconds > 0 ? outcome.files / outcome.fileSeconds : 0.0);
    }
    std::printf("  %-26s %10.1f %8.3f ms %8.3f ms %8.3f ms %8.3f ms %9.0f\n", "floor",
                hash > 0 ? cores / hash : 0.0, 1000 * tripP50 / 2, 1000 * tripP99 / 2,
                1000 * tripP50 / 2, 1000 * tripP99 / 2, disk > 0 ? settings.clients / disk : 0.0);
    std::printf("  (floors: logins, %u cores / one hash; relay, half a loopback round trip; files, "
                "durable writes of the same files; %.1f MB/s raw loopback copy)\n",
                cores, copy > 0 ? fileTotal / 1e6 / copy : 0.0);

    std::error_code ignored;
    std::filesystem::remove_all(dataDir, ignored);
    return 0;
}
