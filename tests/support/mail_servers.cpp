#include "support/mail_servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace velarion::testing {

namespace {

int free_port() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
}

bool port_open(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

bool executable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

std::vector<std::string> sorted_files(const std::vector<std::string>& dirs) {
    std::vector<std::string> out;
    for (const auto& d : dirs) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(d, ec))
            if (e.is_regular_file()) out.push_back(e.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

ServerProcess::~ServerProcess() { stop(); }

void ServerProcess::start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                          const std::string& log) {
    port_ = port_ ? port_ : free_port();
    std::vector<std::string> envs(env);
    for (char** e = environ; *e; ++e) envs.emplace_back(*e);
    std::vector<char*> cargv, cenv;
    for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
    cargv.push_back(nullptr);
    for (const auto& e : envs) cenv.push_back(const_cast<char*>(e.c_str()));
    cenv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const int rc = posix_spawn(&pid_, cargv[0], &actions, nullptr, cargv.data(), cenv.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        skip_reason_ = "cannot start " + argv[0];
        return;
    }
    for (int i = 0; i < 200; ++i) {
        if (port_open(port_)) return;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            skip_reason_ = argv[0] + " ended at start (see " + log + ")";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    skip_reason_ = argv[0] + " did not open port " + std::to_string(port_);
    stop();
}

void ServerProcess::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

SmtpServer::SmtpServer(const std::string& reject_prefix) {
    const std::string python = "/usr/bin/python3";
    if (!executable(python) || !fs::exists("/usr/lib/python3/dist-packages/aiosmtpd")) {
        skip_reason_ = "aiosmtpd is not installed (python3-aiosmtpd)";
        return;
    }
    for (const char* sub : {"mail/tmp", "mail/new", "mail/cur"}) fs::create_directories(dir_ / sub);
    std::string handler = "aiosmtpd.handlers.Mailbox";
    std::vector<std::string> env;
    if (!reject_prefix.empty()) {
        write_file(dir_ / "velarion_smtp_handler.py",
                   "from aiosmtpd.handlers import Mailbox\n"
                   "class Rejecting(Mailbox):\n"
                   "    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):\n"
                   "        if address.startswith('" + reject_prefix + "'):\n"
                   "            return '550 5.1.1 Unknown user'\n"
                   "        envelope.rcpt_tos.append(address)\n"
                   "        return '250 OK'\n");
        handler = "velarion_smtp_handler.Rejecting";
        env.push_back("PYTHONPATH=" + dir_.path());
    }
    port_ = free_port();
    start({python, "-m", "aiosmtpd", "-n", "-l", "127.0.0.1:" + std::to_string(port_), "-c", handler, dir_ / "mail"},
          env, dir_ / "aiosmtpd.log");
}

SmtpServer::~SmtpServer() { stop(); }

std::vector<std::string> SmtpServer::messages(std::size_t count, int timeout_ms) const {
    std::vector<std::string> files;
    for (int waited = 0;; waited += 50) {
        files = sorted_files({dir_ / "mail/new", dir_ / "mail/cur"});
        if (files.size() >= count || waited >= timeout_ms) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::vector<std::string> out;
    for (const auto& f : files) out.push_back(read_file(f));
    return out;
}

ImapServer::ImapServer(std::string user, std::string password)
    : user_(std::move(user)), password_(std::move(password)) {
    const std::string dovecot = "/usr/sbin/dovecot";
    if (!executable(dovecot)) {
        skip_reason_ = "dovecot is not installed (dovecot-imapd)";
        return;
    }
    const std::string d = dir_.path();
    for (const char* sub : {"run", "state", "mail"}) fs::create_directories(d + sub);
    write_file(d + "passwd", user_ + ":{PLAIN}" + password_ + "\n");

    // Mail processes may not run as root: then they run as the dovecot user,
    // which must be able to reach the temporary folder.
    uid_t uid = getuid();
    gid_t gid = getgid();
    std::string internal_user, login_user;
    if (uid == 0) {
        const passwd* dv = getpwnam("dovecot");
        const passwd* dn = getpwnam("dovenull");
        if (!dv || !dn) {
            skip_reason_ = "dovecot's system users are missing";
            return;
        }
        uid = dv->pw_uid;
        gid = dv->pw_gid;
        internal_user = "dovecot";
        login_user = "dovenull";
        chmod(d.c_str(), 0755);
        if (chown((d + "mail").c_str(), uid, gid) != 0) {
            skip_reason_ = "cannot hand the mail folder to dovecot";
            return;
        }
    } else {
        const passwd* me = getpwuid(uid);
        internal_user = login_user = me ? me->pw_name : std::to_string(uid);
    }
    port_ = free_port();
    write_file(d + "dovecot.conf",
               "protocols = imap\n"
               "listen = 127.0.0.1\n"
               "base_dir = " + d + "run\n"
               "state_dir = " + d + "state\n"
               "log_path = " + d + "dovecot.log\n"
               "ssl = no\n"
               "disable_plaintext_auth = no\n"
               "auth_mechanisms = plain login\n"
               "auth_failure_delay = 0\n"
               "mail_location = maildir:" + d + "mail/%u\n"
               "first_valid_uid = 1\n"
               "default_internal_user = " + internal_user + "\n"
               "default_login_user = " + login_user + "\n"
               "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN username_format=%u " + d + "passwd\n}\n"
               "userdb {\n  driver = static\n  args = uid=" + std::to_string(uid) + " gid=" + std::to_string(gid) +
               " home=" + d + "mail/%u\n}\n"
               "service imap-login {\n  inet_listener imap {\n    address = 127.0.0.1\n    port = " +
               std::to_string(port_) + "\n  }\n  inet_listener imaps {\n    port = 0\n  }\n}\n");
    start({dovecot, "-F", "-c", d + "dovecot.conf"}, {}, d + "dovecot.out");
}

ImapServer::~ImapServer() { stop(); }

std::string ImapServer::url(bool with_credentials) const {
    const std::string host = "127.0.0.1:" + std::to_string(port_);
    return with_credentials ? "imap://" + user_ + ":" + password_ + "@" + host : "imap://" + host;
}

std::string ImapServer::folder_dir(const std::string& folder) const {
    return dir_.path() + "mail/" + user_ + "/" + (folder == "INBOX" ? "" : "." + folder + "/");
}

std::vector<std::string> ImapServer::message_files(const std::string& folder) const {
    std::vector<std::string> out;
    for (const auto& f : sorted_files({folder_dir(folder) + "new", folder_dir(folder) + "cur"}))
        out.push_back(fs::path(f).filename().string());
    return out;
}

std::vector<std::string> ImapServer::messages(const std::string& folder) const {
    std::vector<std::string> out;
    for (const auto& f : sorted_files({folder_dir(folder) + "new", folder_dir(folder) + "cur"}))
        out.push_back(read_file(f));
    return out;
}

}  // namespace velarion::testing
