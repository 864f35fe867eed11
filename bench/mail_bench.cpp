// Mail layer benchmark, through the delivery dispatcher as message processing
// calls it, with a maildir store and an SMTP server on this machine
// (aiosmtpd, which throws the messages away).
//
// Usage: mail_bench drafts [N]       N drafts (5,000) saved one after another
//                                    through the compose form (client Outlook,
//                                    option SAVE), each with a 15 KB PDF;
//                                    prints the time of each thousand
//        mail_bench attachment [MB]  one message with an attachment of MB
//                                    megabytes (200), saved as a draft and, in
//                                    a process of its own, sent through SMTP;
//                                    prints the peak memory of each
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/null_view.h"
#include "delivery/attachments.h"
#include "delivery/delivery_request.h"
#include "delivery/sendmail.h"
#include "platform/os/clock.h"
#include "platform/os/ini_file.h"
#include "startup/agent.h"

extern char** environ;

namespace {

using namespace velarion;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double peak_mb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss / 1024.0;
}

void write_file(const fs::path& p, const std::string& s) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << s;
}

int free_port() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    const int port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

// The installation of one run: velarion.ini with its [MAPI] section, the
// work folder, the maildir store.
struct Installation {
    fs::path dir = fs::temp_directory_path() / ("mail_bench_" + std::to_string(::getpid()));
    SystemClock clock;
    NullView view;
    Agent agent{clock, view};
    Dispatcher dispatcher{agent.rt, [] {}};

    explicit Installation(int smtp_port) {
        fs::create_directories(dir / "tempozip");
        write_file(dir / "velarion.ini", "[GLOBAL]\nTiming=1000\n[MAPI]\nclient=Microsoft Outlook\nstore=maildir://localhost" +
                                             (dir / "posta").string() + "\ntransport=smtp://127.0.0.1:" +
                                             std::to_string(smtp_port) + "\n");
        Settings& cfg = agent.settings;
        cfg.sw.ini = dir.string() + "/";
        cfg.op.tempozip_dir = (dir / "tempozip").string() + "/";
        cfg.op.EMailAddr = "ufficio@velarion.example";
        cfg.host.documents_dir = dir.string();
        cfg.load_shared_keys(ini::read_all(cfg.ini_path()));
    }
    ~Installation() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    DeliveryRequest request(const std::string& option) const {
        DeliveryRequest r;
        r.lsObj = "Fattura n\xB0 12";
        r.lsNumRef = "AB0000001234";
        r.lsTo = "mario.rossi@example.it";
        r.lsSend = option;
        r.lvBody = "Gentile cliente,\r\nin allegato la fattura.\r\n";
        return r;
    }
};

// aiosmtpd on a free port, stopped with the object.
struct SmtpSink {
    int port = free_port();
    pid_t pid = -1;
    SmtpSink() {
        const std::string listen = "127.0.0.1:" + std::to_string(port);
        std::vector<std::string> args = {"/usr/bin/python3", "-m", "aiosmtpd", "-n", "-l", listen,
                                         "-c", "aiosmtpd.handlers.Sink", "-s", "2000000000"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid = -1;
        // Until the port answers.
        for (int i = 0; i < 100; ++i) {
            const int s = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<uint16_t>(port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            const bool up = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            ::close(s);
            if (up) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    ~SmtpSink() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

int drafts(long count) {
    Installation inst(0);
    std::string pdf(15 * 1024, '\0');
    for (std::size_t i = 0; i < pdf.size(); ++i) pdf[i] = static_cast<char>((i * 7919) >> 3);
    write_file(inst.dir / "tempozip/000123.pdf", pdf);
    DeliveryRequest r = inst.request("SAVE");
    r.attachments.push_back(resolve_attachment(inst.agent.rt, "000123.txt", false));
    std::vector<double> per_thousand;
    auto block = Clock::now();
    const auto start = block;
    for (long i = 1; i <= count; ++i) {
        if (const DeliveryOutcome o = inst.dispatcher.sendmail(r); !o) {
            std::fprintf(stderr, "mail_bench: draft %ld was not saved: %s\n", i, o.reason.c_str());
            return 1;
        }
        if (inst.agent.list.lines().size() > 1000) inst.agent.list.clear();
        if (i % 1000 == 0 || i == count) {
            const auto now = Clock::now();
            per_thousand.push_back(std::chrono::duration<double>(now - block).count());
            block = now;
        }
    }
    const double total = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%ld drafts through the compose form into a maildir: %.2f s, %.2f ms per draft\n", count, total,
                1000.0 * total / count);
    for (std::size_t k = 0; k < per_thousand.size(); ++k)
        std::printf("  drafts %5zu-%5zu: %6.2f s (%.2f ms per draft)\n", k * 1000 + 1,
                    std::min<std::size_t>((k + 1) * 1000, count), per_thousand[k], per_thousand[k]);
    if (per_thousand.size() >= 2)
        std::printf("  last thousand against the first: %+.0f %%; peak memory %.1f MB\n",
                    100.0 * (per_thousand.back() / per_thousand.front() - 1), peak_mb());
    return 0;
}

// One message with the attachment, saved or sent, in this process.
int attachment_one(long megabytes, const std::string& option) {
    std::unique_ptr<SmtpSink> smtp;
    if (option == "SEND") smtp = std::make_unique<SmtpSink>();
    Installation inst(smtp ? smtp->port : 0);
    {
        // Bytes that do not repeat soon, written in pieces.
        std::ofstream out(inst.dir / "tempozip/archivio.zip", std::ios::binary);
        std::string chunk(1 << 20, '\0');
        std::uint32_t x = 1;
        for (long m = 0; m < megabytes; ++m) {
            for (char& c : chunk) c = static_cast<char>((x = x * 1664525u + 1013904223u) >> 24);
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        }
    }
    const double before = peak_mb();
    DeliveryRequest r = inst.request(option);
    r.attachments.push_back(resolve_attachment(inst.agent.rt, "archivio.zip", false));
    const auto start = Clock::now();
    const bool ok = inst.dispatcher.sendmail(r).delivered();
    const double secs = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("  %-4s a message with a %ld MB attachment: %s in %.2f s, peak memory %.1f MB (%.1f MB before)\n",
                option == "SAVE" ? "save" : "send", megabytes, ok ? "done" : "FAILED", secs, peak_mb(), before);
    return ok ? 0 : 1;
}

int attachment(long megabytes, char* self) {
    int status = 0;
    for (const char* option : {"SAVE", "SEND"}) {
        const std::string mb = std::to_string(megabytes);
        char* args[] = {self, const_cast<char*>("attachment-one"), const_cast<char*>(mb.c_str()),
                        const_cast<char*>(option), nullptr};
        pid_t pid = 0;
        if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, args, environ) != 0) return 1;
        int ws = 0;
        waitpid(pid, &ws, 0);
        if (!WIFEXITED(ws) || WEXITSTATUS(ws) != 0) status = 1;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "drafts") return drafts(argc > 2 ? std::atol(argv[2]) : 5000);
    if (mode == "attachment") return attachment(argc > 2 ? std::atol(argv[2]) : 200, argv[0]);
    if (mode == "attachment-one" && argc > 3) return attachment_one(std::atol(argv[2]), argv[3]);
    std::fprintf(stderr, "usage: mail_bench drafts [N] | attachment [MB]\n");
    return 2;
}
