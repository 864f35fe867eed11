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
#include <stdexcept>
#include <thread>

#include "platform/os/process.h"

extern char** environ;

namespace fs = std::filesystem;

namespace velarion::testing {

int pick_free_port() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
}

namespace {

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
    port_ = port_ ? port_ : pick_free_port();
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

SmtpServer::SmtpServer(const std::string& reject_prefix) : SmtpServer(SmtpOptions{reject_prefix}) {}

SmtpServer::SmtpServer(const SmtpOptions& o) {
    const std::string python = "/usr/bin/python3";
    if (!executable(python) || !fs::exists("/usr/lib/python3/dist-packages/aiosmtpd")) {
        skip_reason_ = "aiosmtpd is not installed (python3-aiosmtpd)";
        return;
    }
    for (const char* sub : {"mail/tmp", "mail/new", "mail/cur"}) fs::create_directories(dir_ / sub);
    port_ = pick_free_port();
    std::vector<std::string> argv{python, std::string(VELARION_SOURCE_DIR) + "/tests/support/smtp_server.py",
                                  "--listen", host_port(), "--maildir", dir_ / "mail",
                                  "--capture", dir_ / "received", "--logins", dir_ / "logins"};
    if (!o.reject_prefix.empty()) argv.insert(argv.end(), {"--reject-prefix", o.reject_prefix});
    if (!o.user.empty()) argv.insert(argv.end(), {"--auth", o.user + ":" + o.password});
    if (!o.cert.empty()) argv.insert(argv.end(), {"--cert", o.cert, "--key", o.key});
    if (o.refuse_starttls) argv.push_back("--refuse-starttls");
    if (o.drop_in_data) argv.push_back("--drop-in-data");
    if (o.drop_after_data) argv.push_back("--drop-after-data");
    if (!o.oauth_issued.empty()) argv.insert(argv.end(), {"--oauth-issued", o.oauth_issued});
    if (!o.mechanisms.empty()) argv.insert(argv.end(), {"--mechanisms", o.mechanisms});
    if (o.end_after > 0) argv.insert(argv.end(), {"--end-after", std::to_string(o.end_after)});
    if (o.end_silently) argv.push_back("--end-silently");
    if (o.pipelining) argv.push_back("--pipelining");
    if (o.data_reply_delay > 0) argv.insert(argv.end(), {"--data-reply-delay", std::to_string(o.data_reply_delay)});
    start(argv, {}, dir_ / "aiosmtpd.log");
}

TokenServer::TokenServer(const TokenOptions& o) {
    const std::string python = "/usr/bin/python3";
    if (!executable(python)) {
        skip_reason_ = "python3 is not installed";
        return;
    }
    write_file(dir_ / "issued", "");
    port_ = pick_free_port();
    argv_ = {python, std::string(VELARION_SOURCE_DIR) + "/tests/support/token_server.py",
             "--listen", "127.0.0.1:" + std::to_string(port_), "--state", dir_.path(), "--user", o.user,
             "--client-id", o.client_id, "--client-secret", o.client_secret,
             "--lifetime", std::to_string(o.lifetime), "--claimed", std::to_string(o.claimed)};
    if (o.rotate) argv_.push_back("--rotate");
    if (!o.cert.empty()) {
        argv_.insert(argv_.end(), {"--cert", o.cert, "--key", o.key});
        scheme_ = "https";
    }
    up();
}

TokenServer::~TokenServer() { stop(); }

void TokenServer::up() { start(argv_, {}, dir_ / "token_server.log"); }

void TokenServer::set_refresh_token(const std::string& token) const { write_file(dir_ / "refresh_tokens", token + "\n"); }

std::string TokenServer::refresh_token() const {
    std::string t = read_file(dir_ / "refresh_tokens");
    while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
    return t;
}

void TokenServer::set_padding(std::size_t bytes) const {
    write_file(dir_ / "padding", bytes ? std::to_string(bytes) + "\n" : "");
}

void TokenServer::revoke_access_tokens() const { write_file(dir_ / "issued", ""); }

std::string TokenServer::requests() const { return read_file(dir_ / "requests"); }

std::string SmtpServer::received() const { return read_file(dir_ / "received"); }

std::string SmtpServer::received(const std::string& what, int count) const {
    std::string got = received();
    for (int wait = 0; wait < 40 && count_of(got, what) < count; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        got = received();
    }
    return got;
}

int count_of(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t p = 0; (p = text.find(what, p)) != std::string::npos; p += what.size()) ++n;
    return n;
}

std::string SmtpServer::logins() const { return read_file(dir_ / "logins"); }

std::string SmtpServer::reads() const {
    std::error_code ec;
    return fs::exists(dir_ / "received.reads", ec) ? read_file(dir_ / "received.reads") : "";
}

int SmtpServer::connections() const {
    std::error_code ec;
    if (!fs::exists(dir_ / "received.connections", ec)) return 0;
    const std::string log = read_file(dir_ / "received.connections");
    return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
}

TestCa::TestCa() {
    const std::string openssl = "/usr/bin/openssl";
    if (!executable(openssl)) {
        skip_reason_ = "openssl is not installed";
        return;
    }
    const std::string d = dir_.path();
    write_file(d + "server.ext", "subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n");
    const std::vector<std::vector<std::string>> steps{
        {openssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
         d + "ca.key", "-out", d + "ca.pem", "-days", "2", "-subj", "/CN=Velarion Test CA", "-addext",
         "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"},
        {openssl, "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
         d + "server.key", "-out", d + "server.csr", "-subj", "/CN=127.0.0.1"},
        {openssl, "x509", "-req", "-in", d + "server.csr", "-CA", d + "ca.pem", "-CAkey", d + "ca.key",
         "-CAcreateserial", "-out", d + "server.pem", "-days", "2", "-extfile", d + "server.ext"},
    };
    for (const auto& argv : steps) {
        const ProcessResult r = run_program(argv);
        if (r.status != 0) {
            skip_reason_ = "openssl failed: " + r.err;
            return;
        }
    }
    chmod((d + "server.key").c_str(), 0644);  // dovecot reads it as its own user
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

ImapServer::ImapServer(std::string user, std::string password, std::string cert, std::string key,
                       const std::string& extra_conf)
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
    port_ = pick_free_port();
    write_file(d + "dovecot.conf",
               "protocols = imap\n"
               "listen = 127.0.0.1\n"
               "base_dir = " + d + "run\n"
               "state_dir = " + d + "state\n"
               "log_path = " + d + "dovecot.log\n" +
               (cert.empty() ? std::string("ssl = no\n")
                             : "ssl = yes\nssl_cert = <" + cert + "\nssl_key = <" + key + "\n") +
               "disable_plaintext_auth = no\n"
               "auth_mechanisms = plain login\n"
               "auth_failure_delay = 0\n"
               "auth_verbose = yes\n"
               "mail_location = maildir:" + d + "mail/%u\n"
               "first_valid_uid = 1\n"
               "default_internal_user = " + internal_user + "\n"
               "default_login_user = " + login_user + "\n"
               "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN username_format=%u " + d + "passwd\n}\n"
               "userdb {\n  driver = static\n  args = uid=" + std::to_string(uid) + " gid=" + std::to_string(gid) +
               " home=" + d + "mail/%u\n}\n"
               "service imap-login {\n  inet_listener imap {\n    address = 127.0.0.1\n    port = " +
               std::to_string(port_) + "\n  }\n  inet_listener imaps {\n    port = 0\n  }\n}\n" + extra_conf);
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

void ImapServer::deliver(const std::string& folder, const std::string& name, const std::string& raw) const {
    // What is made here belongs to the mail processes' user, as the mail
    // folder does: dovecot writes its index and UID list beside the messages.
    struct stat owner{};
    const std::string mail = dir_.path() + "mail";
    const bool hand_over = ::stat(mail.c_str(), &owner) == 0 && owner.st_uid != getuid();
    const auto own = [&](const fs::path& p) {
        if (hand_over && ::chown(p.c_str(), owner.st_uid, owner.st_gid) != 0)
            throw std::runtime_error("cannot give " + p.string() + " to dovecot's user");
    };
    for (const char* sub : {"new", "cur", "tmp"}) fs::create_directories(folder_dir(folder) + sub);
    for (fs::path p = folder_dir(folder); p.lexically_normal() != fs::path(mail); p = p.parent_path()) {
        if (p.filename().empty()) continue;
        own(p);
    }
    for (const char* sub : {"new", "cur", "tmp"}) own(folder_dir(folder) + sub);
    write_file(folder_dir(folder) + "tmp/" + name, raw);
    own(folder_dir(folder) + "tmp/" + name);
    fs::rename(folder_dir(folder) + "tmp/" + name, folder_dir(folder) + "new/" + name);
}

std::string ImapServer::log() const { return read_file(dir_.path() + "dovecot.log"); }

std::vector<std::string> ImapServer::messages(const std::string& folder) const {
    std::vector<std::string> out;
    for (const auto& f : sorted_files({folder_dir(folder) + "new", folder_dir(folder) + "cur"}))
        out.push_back(read_file(f));
    return out;
}

std::string describe_mime(const std::string& raw) {
    TempDir d;
    write_file(d / "m.eml", raw);
    write_file(d / "describe.py", R"PY(
import sys
from email import policy
from email.parser import BytesParser
m = BytesParser(policy=policy.default).parse(open(sys.argv[1], 'rb'))
print('subject:', m['subject'])
print('from:', m['from'])
print('to:', m['to'])
print('cc:', m['cc'])
print('bcc:', m['bcc'])
print('reply-to:', m['reply-to'])
print('dnt:', m['disposition-notification-to'])
print('rcptto:', m['x-rcptto'])
body = m.get_body(preferencelist=('plain',))
print('body:', repr(body.get_content() if body else None))
for part in m.iter_attachments():
    print('attachment:', part.get_filename(), len(part.get_content()))
)PY");
    auto out = process::run_capture({"/usr/bin/python3", d / "describe.py", d / "m.eml"});
    return out ? *out : "python3 failed";
}

}  // namespace velarion::testing
