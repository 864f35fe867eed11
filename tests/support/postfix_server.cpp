#include "support/postfix_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/mail_servers.h"

namespace fs = std::filesystem;

namespace velarion::testing {

namespace {

const char* const kPostfix = "/usr/sbin/postfix";

bool accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

PostfixServer::PostfixServer(const std::vector<std::string>& users) {
    if (!fs::exists(kPostfix)) {
        skip_reason_ = "postfix is not installed (apt-get install postfix)";
        return;
    }
    if (::geteuid() != 0) {
        skip_reason_ = "postfix needs root to start its master process";
        return;
    }
    const passwd* pw = ::getpwnam("postfix");
    if (!pw) {
        skip_reason_ = "there is no user postfix";
        return;
    }
    const std::string d = dir_.path();
    // The postfix user reads its configuration and writes the queue and the mailboxes.
    fs::permissions(d, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    for (const char* sub : {"conf", "queue", "data", "mail"}) fs::create_directories(d + sub);
    if (::chown((d + "data").c_str(), pw->pw_uid, pw->pw_gid) != 0 ||
        ::chown((d + "mail").c_str(), pw->pw_uid, pw->pw_gid) != 0) {
        skip_reason_ = "cannot give the postfix user its folders";
        return;
    }
    port_ = pick_free_port();
    const std::string uid = std::to_string(pw->pw_uid), gid = std::to_string(pw->pw_gid);
    write_file(d + "conf/main.cf",
               "compatibility_level = 3.6\n"
               "queue_directory = " + d + "queue\n"
               "data_directory = " + d + "data\n"
               "mail_owner = postfix\n"
               "inet_interfaces = 127.0.0.1\ninet_protocols = ipv4\n"
               "myhostname = mx.velarion.test\nmydomain = velarion.test\nmyorigin = velarion.test\n"
               "mydestination =\nrelay_domains =\nmynetworks = 127.0.0.0/8\n"
               "smtpd_recipient_restrictions = permit_mynetworks, reject\n"
               // Unknown users are taken, then bounced: the sender gets a real report.
               "smtpd_reject_unlisted_recipient = no\n"
               "virtual_mailbox_domains = velarion.test\n"
               "virtual_mailbox_base = " + d + "mail\n"
               "virtual_mailbox_maps = texthash:" + d + "conf/mailboxes\n"
               "virtual_uid_maps = static:" + uid + "\nvirtual_gid_maps = static:" + gid + "\n"
               "alias_maps =\nalias_database =\nsmtputf8_enable = no\nbiff = no\n"
               "maillog_file = " + d + "maillog\nmaillog_file_prefixes = " + d + "\n");
    std::string boxes;
    for (const auto& u : users) boxes += u + "@velarion.test " + u + "/\n";
    write_file(d + "conf/mailboxes", boxes);
    write_file(d + "conf/master.cf",
               "127.0.0.1:" + std::to_string(port_) + " inet n - n - - smtpd\n"
               "pickup unix n - n 60 1 pickup\ncleanup unix n - n - 0 cleanup\nqmgr unix n - n 300 1 qmgr\n"
               "rewrite unix - - n - - trivial-rewrite\nbounce unix - - n - 0 bounce\n"
               "defer unix - - n - 0 bounce\ntrace unix - - n - 0 bounce\nverify unix - - n - 1 verify\n"
               "flush unix n - n 1000? 0 flush\nproxymap unix - - n - - proxymap\nsmtp unix - - n - - smtp\n"
               "relay unix - - n - - smtp\nshowq unix n - n - - showq\nerror unix - - n - - error\n"
               "retry unix - - n - - error\ndiscard unix - - n - - discard\nlocal unix - n n - - local\n"
               "virtual unix - n n - - virtual\nanvil unix - - n - 1 anvil\nscache unix - - n - 1 scache\n"
               "postlog unix-dgram n - n - 1 postlogd\n");
    const ProcessResult r = run_program({kPostfix, "-c", d + "conf", "start"});
    started_ = r.status == 0;
    for (int waited = 0; started_ && waited < 15000 && !accepts(port_); waited += 100)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!started_ || !accepts(port_)) skip_reason_ = "postfix did not start: " + r.err + log();
}

PostfixServer::~PostfixServer() {
    if (started_) run_program({kPostfix, "-c", dir_ / "conf", "stop"});
}

std::size_t PostfixServer::count(const std::string& user) const {
    std::size_t n = 0;
    for (const char* sub : {"new", "cur"}) {
        std::error_code ec;
        for (fs::directory_iterator it(maildir(user) + sub, ec), end; !ec && it != end; it.increment(ec)) ++n;
    }
    return n;
}

std::string PostfixServer::log() const { return read_file(dir_ / "maillog"); }

}  // namespace velarion::testing
