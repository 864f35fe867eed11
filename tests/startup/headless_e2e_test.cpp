// Runs build/bin/velarion --headless on temporary installations.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include <gtest/gtest.h>

#include "common/run_log.h"
#include "platform/os/clock.h"
#include "support/background_process.h"
#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::run_program;
using testing::TempDir;
using testing::write_file;

struct Installation {
    TempDir root;
    Installation(const std::string& timing = "Timing=1000\n") {
        fs::create_directories(root / "spool");
        fs::create_directories(root / "loghi");
        fs::create_directories(root / "run");
        write_file(cfg() + "velarion.ini", "[AB]\nPath=" + root / "spool/" + "\nDir_Loghi=" + root / "loghi/" +
                                               "\ntempozip_dir=" + work() + "\n[GLOBAL]\n" + timing +
                                               "[MAPI]\nclient=Posta di prova\nstore=maildir://localhost" +
                                               root / "posta" + "\n");
    }
    std::string cfg() const { return root / "cfg/"; }
    std::string work() const { return root / "tempozip/"; }
    std::vector<std::string> env() const {
        return {"HOME=" + root / "home", "XDG_RUNTIME_DIR=" + root / "run", "XDG_CONFIG_HOME=" + root / "config"};
    }
    testing::ProcessResult run(std::vector<std::string> args) const {
        args.insert(args.begin(), std::string(VELARION_BIN_DIR) + "/velarion");
        return run_program(args, env());
    }
    // The one log file written (today's name).
    std::string log_file() const {
        std::string found;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(work() + "log", ec)) found = e.path().string();
        return found;
    }
};

TEST(Headless, OnceOnAValidInstallation) {
    Installation in;
    const DateTime before = SystemClock().now();
    const auto r = in.run({"--headless", "--once", "ini:" + in.cfg(), "ope:AB"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");

    const std::string ts = R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d)";
    std::vector<std::string> lines;
    std::stringstream ss(r.out);
    for (std::string l; std::getline(ss, l);) lines.push_back(l);
    ASSERT_GE(lines.size(), 4u) << r.out;
    EXPECT_TRUE(std::regex_match(lines.front(), std::regex(ts + " \\*{71}")));
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(ts + " Sistema Operativo .* System Root ")));
    EXPECT_NE(r.out.find(" Operatore = AB " + in.root / "spool/" + " " + in.root / "loghi/" + "\n"),
              std::string::npos);
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex(ts + " Chiusura VELARION")));

    // Every line is in today's log file, in the same order.
    const std::string log = in.log_file();
    const DateTime after = SystemClock().now();
    EXPECT_TRUE(fs::path(log).filename() == log_file_name(before) || fs::path(log).filename() == log_file_name(after))
        << log;
    EXPECT_EQ(read_file(log), r.out);
    // The personal work folder below the documents folder.
    EXPECT_TRUE(fs::is_directory(in.root / "home/Documents/Velarion/tempozip"));
}

TEST(Headless, HelpAndVersionNeedNothingElse) {
    // No configuration, no display, another agent may be running: the text alone.
    Installation inst;
    auto version = inst.run({"--version", "ope:AB", "ini:/no/such/folder"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("velarion (Velarion) ") + VELARION_VERSION + "\n");
    auto help = inst.run({"ope:ABCD", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: velarion [--headless] [--once] ope:OP ini:DIR", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("  ini:DIR "), std::string::npos);
    EXPECT_FALSE(fs::exists(inst.work() + "log"));
}

TEST(Headless, RefusalsExitWithStatusOne) {
    Installation in;
    auto r = in.run({"--headless", "--once", "ini:" + in.root / "nowhere", "ope:AB"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "velarion: Impossibile accedere al file " + in.root / "nowhere/" +
                         "velarion.ini\nControllare il parametro ini:dir nella riga di comando\n");
    EXPECT_FALSE(fs::exists(in.work() + "log"));

    r = in.run({"--headless", "--once", "ini:", "ope:AB"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "velarion: Non e' stato specificato nessuna directory dove posizionato il file velarion.ini (ini:dir)\n");

    r = in.run({"--headless", "--once", "ini:" + in.cfg(), "ope:ABCD"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("velarion: Lunghezza Codice operatore maggiore di 3"), std::string::npos);

    // No operator: the input box answers empty text, which ends the process.
    r = in.run({"--headless", "--once", "ini:" + in.cfg()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "velarion: Operatore non specificato nella riga di comando\n");
    EXPECT_FALSE(fs::exists(in.work() + "log"));
}

TEST(Headless, BadArgumentsExitTwoBeforeAnyWindow) {
    // Without --headless the window would be made; a typo must stop before that
    // (with no display, Qt's platform plug-in would abort the process).
    Installation in;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--status"}, {"--headles", "ini:" + in.cfg(), "ope:AB"}, {"opr:AB", "ini:" + in.cfg()}}) {
        const auto r = in.run(args);
        EXPECT_EQ(r.status, 2) << args.front() << r.err;
        EXPECT_NE(r.err.find("velarion: argomento sconosciuto: " + args.front() + "\n"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Usage: velarion "), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(fs::exists(in.work() + "log"));
}

TEST(Headless, OnceSwitchedOffExitsOne) {
    // Nobody could switch it on: the same refusal as without --once.
    Installation in;
    const auto r = in.run({"--headless", "--once", "run:n", "ini:" + in.cfg(), "ope:AB"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("velarion: Velarion disattivato"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find(" Chiusura VELARION"), std::string::npos);
}

TEST(Headless, TellsTheServiceManagerReadinessWatchdogAndStop) {
    // The service manager's side of sd_notify: a datagram socket named by NOTIFY_SOCKET.
    Installation in;
    const std::string path = in.root / "notify";
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof(addr.sun_path));
    std::copy(path.begin(), path.end(), addr.sun_path);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    timeval tv{0, 100000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    std::string got;
    auto receive = [&] {
        char buf[4096];
        for (ssize_t n; (n = recv(fd, buf, sizeof(buf), 0)) > 0;) got.append(buf, n).append("|");
        return got;
    };

    std::vector<std::string> env = in.env();
    env.push_back("NOTIFY_SOCKET=" + path);
    env.push_back("WATCHDOG_USEC=400000");  // petted every 0.2 s
    testing::BackgroundProcess agent({std::string(VELARION_BIN_DIR) + "/velarion", "--headless",
                                      "ini:" + in.cfg(), "ope:AB"}, env);
    ASSERT_TRUE(agent.started());
    EXPECT_TRUE(testing::eventually([&] { return receive().find("READY=1\nSTATUS=") != std::string::npos; }, 10000))
        << got;
    EXPECT_TRUE(testing::eventually(
        [&] {
            const std::string all = receive();
            std::size_t n = 0;
            for (std::size_t at = 0; (at = all.find("WATCHDOG=1", at)) != std::string::npos; ++at) ++n;
            return n >= 3;
        },
        10000))
        << got;
    // The status is the queue's summary, set after the first scan.
    EXPECT_TRUE(testing::eventually(
        [&] { return receive().find("STATUS=0 in attesa, 0 rinviati, 0 non inviati; oggi 0 inviati") != std::string::npos; },
        10000))
        << got;
    agent.signal(SIGTERM);
    EXPECT_EQ(agent.wait(), 0);
    receive();
    EXPECT_NE(got.find("STOPPING=1"), std::string::npos) << got;
    EXPECT_NE(got.find("STATUS=" ), std::string::npos);
    close(fd);
}

TEST(Headless, BadTimingStopsWithItsMessage) {
    Installation in("Timing=mille\n");
    const auto r = in.run({"--headless", "--once", "ini:" + in.cfg(), "ope:AB"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("velarion: "), std::string::npos);
    EXPECT_NE(r.err.find("Timing"), std::string::npos);
    EXPECT_NE(r.out.find(" Chiusura VELARION"), std::string::npos);
}

TEST(Headless, SecondInstanceAndSignal) {
    Installation in;
    const std::string bin = std::string(VELARION_BIN_DIR) + "/velarion";
    // A first instance runs; a second one is refused, one with plus:y is let in;
    // SIGTERM then closes the first as its unload does.
    // The first agent may take long to start on a loaded machine (up to 30 s); grep is
    // silent while its output file is not made yet.
    const std::string script = bin + " --headless ini:" + in.cfg() + " ope:AB > " + in.root / "first.out" +
                               " & first=$!; for i in $(seq 300); do grep -qs 'Operatore = AB' " + in.root / "first.out" +
                               " && break; sleep 0.1; done; " + bin + " --headless --once ini:" + in.cfg() +
                               " ope:AB; echo second=$?; " + bin + " --headless --once plus:y ini:" + in.cfg() +
                               " ope:AB >/dev/null; echo third=$?; kill -TERM $first; wait $first; echo first=$?";
    const auto r = run_program({"/bin/sh", "-c", script}, in.env());
    EXPECT_NE(r.out.find("second=1\n"), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.out.find("third=0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("first=0\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "velarion: Programma gia' in esecuzione\n");
    const std::string first = read_file(in.root / "first.out");
    EXPECT_NE(first.find(" Chiusura VELARION\n"), std::string::npos) << first;
}

TEST(Headless, AnInstanceLockThatCannotBeMadeStopsTheStart) {
    Installation in;
    const std::string bin = std::string(VELARION_BIN_DIR) + "/velarion";
    // A work folder where no lock file can be made (a file in place of the
    // agents' folder); the runtime folder does not matter any more.
    fs::create_directories(in.work());
    write_file(in.work() + "in_lavorazione", "");
    const std::vector<std::string> env{"HOME=" + in.root / "home", "XDG_RUNTIME_DIR=" + in.root / "no/such/folder",
                                       "XDG_CONFIG_HOME=" + in.root / "config"};
    auto r = run_program({bin, "--headless", "--once", "ini:" + in.cfg(), "ope:AB"}, env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "velarion: Impossibile creare il file di blocco dell'istanza " + in.work() +
                         "in_lavorazione/.istanza_AB.lock: Not a directory (plus:y avvia comunque)\n");
    // plus:y lets a second agent run anyway: no lock is needed.
    r = run_program({bin, "--headless", "--once", "plus:y", "ini:" + in.cfg(), "ope:AB"}, env);
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST(Headless, TheLockIsTheOperatorsInItsWorkFolderWhateverTheRuntimeFolder) {
    Installation in;
    // CD shares AB's work folder.
    write_file(in.cfg() + "velarion.ini", read_file(in.cfg() + "velarion.ini") + "[CD]\nPath=" + in.root / "spool/" +
                                              "\ntempozip_dir=" + in.work() + "\n");
    const std::string bin = std::string(VELARION_BIN_DIR) + "/velarion";
    // A first agent of AB runs with one runtime folder; a second one with
    // another runtime folder (as a system service has) is refused, an agent
    // of CD on the same work folder is let in.
    const std::string script = "XDG_RUNTIME_DIR=" + in.root / "run" + " " + bin + " --headless ini:" + in.cfg() +
                               " ope:AB > " + in.root / "first.out" + " & first=$!; for i in $(seq 300); do grep -qs " +
                               "'Operatore = AB' " + in.root / "first.out" + " && break; sleep 0.1; done; " +
                               "XDG_RUNTIME_DIR=" + in.root / "other" + " " + bin + " --headless --once ini:" + in.cfg() +
                               " ope:ab; echo second=$?; " + bin + " --headless --once ini:" + in.cfg() +
                               " ope:CD >/dev/null; echo third=$?; kill -TERM $first; wait $first; echo first=$?";
    fs::create_directories(in.root / "other");
    const auto r = run_program({"/bin/sh", "-c", script}, in.env());
    EXPECT_NE(r.out.find("second=1\n"), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.out.find("third=0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("first=0\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "velarion: Programma gia' in esecuzione\n");
    EXPECT_TRUE(fs::is_regular_file(in.work() + "in_lavorazione/.istanza_AB.lock"));
}

}  // namespace
}  // namespace velarion
