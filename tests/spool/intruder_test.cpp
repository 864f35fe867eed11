// Whoever can write the spool cannot make the agent read or write files
// outside the installation's folders: each attempt is refused with its
// activity line, and the message is kept below "non_inviati", not lost.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>

#include "common/activity_list.h"
#include "spool/spool_fixture.h"

namespace fs = std::filesystem;

namespace velarion::testing {
namespace {

struct Intruder : SpoolFixture {
    Intruder() {
        write_file(root / "home/secret.txt", "SEGRETO");
        secret = root / "home/secret.txt";
    }
    // True when some file below dir holds the secret's bytes.
    bool secret_below(const std::string& dir) const {
        if (!fs::exists(dir)) return false;
        for (const auto& e : fs::recursive_directory_iterator(dir))
            if (e.is_regular_file() && !e.is_symlink() && read_file(e.path().string()).find("SEGRETO") != std::string::npos)
                return true;
        return false;
    }
    // The message was kept, and the line naming the refused entry is there.
    void expect_kept(const std::string& refused_line) const {
        EXPECT_TRUE(delivered.empty()) << dump();
        EXPECT_TRUE(has_line(stamp() + refused_line)) << dump();
        EXPECT_EQ(unsent().size(), 1u) << dump();
        EXPECT_TRUE(has_text(" Messaggio non inviato conservato in ")) << dump();
    }
    // The activity lines of the run, those already flushed to the log first.
    std::string journal() const {
        std::string all;
        if (fs::exists(work + "log"))
            for (const auto& e : fs::directory_iterator(work + "log")) all += read_file(e.path().string());
        return all + dump();
    }
    std::string secret;
};

TEST_F(Intruder, AttachmentPathsOutsideTheFoldersKeepTheMessage) {
    const char* line = " Allegato fuori dalle cartelle ammesse, messaggio non inviato: ";
    // An absolute path, with either separator.
    write_message("AB.1", header("R1", "a@x.it", {secret}), "b");
    scan();
    expect_kept(line + secret);

    std::string windows = secret;
    for (char& c : windows)
        if (c == '/') c = '\\';
    write_message("AB.2", header("R2", "a@x.it", {windows}), "b");
    scan();
    EXPECT_TRUE(delivered.empty());
    EXPECT_TRUE(has_line(stamp() + line + windows)) << dump();

    // A ".///A" body line becomes an attachment line: the same check.
    write_message("AB.3", header("R3", "a@x.it"), "testo\r\n.///A" + secret + "\r\n");
    scan();
    EXPECT_TRUE(delivered.empty());
    EXPECT_EQ(unsent().size(), 3u);

    // A print-file name that climbs out of the work directory.
    write_message("AB.4", header("R4", "a@x.it", {"../abc.txt"}), "b", {"riga\r\n"});
    scan();
    EXPECT_TRUE(delivered.empty());
    EXPECT_TRUE(has_line(stamp() + line + "../abc.txt")) << dump();
    EXPECT_FALSE(fs::exists(root / "abc.txt"));
    EXPECT_FALSE(fs::exists(root / "abc.pdf"));

    // A path inside the folders that a link leads out of.
    fs::create_symlink(root / "home", spool + "uscita");
    write_message("AB.5", header("R5", "a@x.it", {spool + "uscita/secret.txt"}), "b");
    scan();
    EXPECT_TRUE(delivered.empty());
    EXPECT_EQ(unsent().size(), 5u);
    EXPECT_FALSE(secret_below(work));
}

TEST_F(Intruder, PathsBelowTheConfiguredFoldersStillTravel) {
    cfg.op.send_dir = root / "salvati/";
    cfg.derive();
    write_file(root / "salvati/listino.pdf", "%PDF listino");
    write_message("AB.6", header("R6", "a@x.it", {root / "salvati/listino.pdf"}), "b");
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    EXPECT_EQ(attachment_name(delivered[0], 1), root / "salvati/listino.pdf");

    // The key of velarion.ini widens what may be read.
    write_message("AB.7", header("R7", "a@x.it", {secret}), "b");
    cfg.op.cartelle_lettura = " " + root / "altro" + " ; " + root / "home";
    cfg.derive();
    scan();
    EXPECT_EQ(delivered.size(), 2u) << dump();
}

TEST_F(Intruder, SpoolFilesThatAreLinksAreNeverRead) {
    write_message("AB.8", header("R8", "a@x.it", {"FATTURA.PDF"}), "b");
    fs::create_symlink(secret, spool + "AB.8.0");
    // A body that is a link too: its text would become the mail's body.
    fs::remove(spool + "AB.8.b");
    fs::create_symlink(secret, spool + "AB.8.b");
    scan();
    EXPECT_TRUE(delivered.empty()) << dump();
    EXPECT_TRUE(has_line(stamp() + " File di spool non ammesso, collegamento simbolico: " + spool + "AB.8.b"));
    EXPECT_TRUE(has_line(stamp() + " File di spool non ammesso, collegamento simbolico: " + spool + "AB.8.0"));
    EXPECT_FALSE(secret_below(work)) << dump();
    // The message is kept with what it has of its own; the links left the spool.
    ASSERT_EQ(unsent().size(), 1u);
    EXPECT_TRUE(fs::exists(work + "non_inviati/" + unsent()[0] + "AB.8.h"));
    EXPECT_FALSE(fs::exists(spool + "AB.8.T"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(spool + "AB.8.0")));
    EXPECT_EQ(read_file(secret), "SEGRETO");

    // A trigger that is a link is not read either.
    write_message("AB.9", header("R9", "a@x.it"), "b");
    fs::remove(spool + "AB.9.T");
    fs::create_symlink(secret, spool + "AB.9.T");
    scan();
    EXPECT_TRUE(delivered.empty());
    EXPECT_TRUE(has_line(stamp() + " File di spool non ammesso, collegamento simbolico: " + spool + "AB.9.T"));
    EXPECT_EQ(read_file(secret), "SEGRETO");
}

TEST_F(Intruder, LinksInTheWorkFolderAreRemovedNotFollowed) {
    write_file(root / "home/note.txt", "nota di un altro");
    fs::create_symlink(root / "home/note.txt", work + "note.txt");
    fs::create_symlink(root / "home", work + "cartella");
    // A link where the message's own copy will be written.
    fs::create_symlink(root / "home/secret.txt", work + "AB.10.h");
    write_message("AB.10", header("R10", "a@x.it"), "b");
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    EXPECT_FALSE(fs::exists(fs::symlink_status(work + "note.txt")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(work + "cartella")));
    EXPECT_FALSE(fs::is_symlink(work + "AB.10.h"));
    EXPECT_EQ(read_file(root / "home/note.txt"), "nota di un altro");
    EXPECT_EQ(read_file(secret), "SEGRETO");
    EXPECT_TRUE(fs::exists(root / "home/secret.txt"));
}

TEST_F(Intruder, LinksInThePrepareFolderAreReplacedNotWrittenThrough) {
    const std::string prep = root / "prepara/";
    fs::create_directories(prep);
    cfg.op.ParGenerali = "PREPARA:" + prep + ";";
    cfg.derive();
    fs::create_symlink(secret, prep + "AB.11.H");
    fs::create_symlink(secret, prep + "AB.11.T");
    write_message("AB.11", header("R11", "a@x.it"), "b");
    scan();
    EXPECT_EQ(read_file(secret), "SEGRETO");
    EXPECT_FALSE(fs::is_symlink(prep + "AB.11.H"));
    EXPECT_EQ(read_file(prep + "AB.11.H"), read_file(work + "AB.11.h"));
    EXPECT_TRUE(has_text(" Copiato messaggio AB.11 in " + prep)) << dump();
}

TEST_F(Intruder, ControlCharactersOfSpoolNamesForgeNoLine) {
    // The size check names the ".0" file in its lines.
    write_message("AB.12\n07.12.2026 10:00:00 Inviato FALSO\x1b[2J", header("R12", "a@x.it", {"A.PDF"}), "b",
                  {"pdf"});
    scan();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    for (const auto& l : list.lines()) {
        for (unsigned char c : l) EXPECT_TRUE(c >= 0x20 && c != 0x7f) << l;
    }
    EXPECT_TRUE(has_text("AB.12?07.12.2026 10:00:00 Inviato FALSO?[2J")) << dump();
}


TEST_F(Intruder, AGrowingContentFileDoesNotStopTheScan) {
    // A ".0" that grows by a byte whenever the agent waits.
    write_message("AB.13", header("R13", "a@x.it", {"A.PDF"}), "b", {"%PDF"});
    write_message("AB.14", header("R14", "b@x.it", {"B.PDF"}), "b", {"%PDF"});
    int rounds = 0;
    view.on_events = [&] {
        rounds += !fs::exists(spool + "AB.13.T");  // under its own size check
        std::ofstream(spool + "AB.13.0", std::ios::app) << "x";
    };
    scan();
    // Two minutes of waits by default, then the next message goes.
    EXPECT_EQ(rounds, 120) << dump();
    ASSERT_EQ(delivered.size(), 1u) << dump();
    EXPECT_EQ(delivered[0].lsTo, "b@x.it");
    EXPECT_NE(journal().find(" File ancora in scrittura dopo 120 secondi, messaggio lasciato nello spool per un "
                             "giro successivo: " + spool + "AB.13.0"),
              std::string::npos);
    // Left where it was, neither parked nor lost; once it stops growing it goes.
    EXPECT_TRUE(fs::exists(spool + "AB.13.T"));
    EXPECT_TRUE(unsent().empty());
    view.on_events = nullptr;
    cfg.global.size_check = "10s";
    cfg.derive();
    scan();
    ASSERT_EQ(delivered.size(), 2u) << dump();
    EXPECT_FALSE(fs::exists(spool + "AB.13.T"));

    // The limit is a setting.
    write_message("AB.15", header("R15", "a@x.it", {"A.PDF"}), "b", {"%PDF"});
    rounds = 0;
    view.on_events = [&] {
        rounds += !fs::exists(spool + "AB.15.T");
        std::ofstream(spool + "AB.15.0", std::ios::app) << "x";
    };
    scan();
    EXPECT_EQ(rounds, 10);
    EXPECT_NE(journal().find(" File ancora in scrittura dopo 10 secondi"), std::string::npos);
}

TEST_F(Intruder, SpecialSpoolFilesAreRefusedAndLeaveTheSpool) {
    const auto parked_for = [&](const std::string& base, const std::string& file, const std::string& kind) {
        const std::size_t before = unsent().size();
        scan();
        EXPECT_TRUE(delivered.empty()) << dump();
        EXPECT_TRUE(has_text(" File di spool non ammesso, " + kind + ": " + spool + file)) << dump();
        EXPECT_EQ(unsent().size(), before + 1) << dump();
        EXPECT_FALSE(fs::exists(fs::symlink_status(spool + file))) << file;
        EXPECT_FALSE(fs::exists(spool + base + ".T")) << base;
        EXPECT_FALSE(fs::exists(spool + base + ".h")) << base;
    };
    // A FIFO as content file: never opened (the agent would wait for a writer).
    write_message("AB.20", header("R20", "a@x.it", {"A.PDF"}), "b");
    ASSERT_EQ(::mkfifo((spool + "AB.20.0").c_str(), 0600), 0);
    parked_for("AB.20", "AB.20.0", "FIFO");
    // A folder, a link to a device, a socket-like device node stand-in: a link to /dev/zero.
    write_message("AB.21", header("R21", "a@x.it", {"A.PDF"}), "b");
    fs::create_directories(spool + "AB.21.0/dentro");
    write_file(spool + "AB.21.0/dentro/x", "x");
    parked_for("AB.21", "AB.21.0", "cartella");
    write_message("AB.22", header("R22", "a@x.it", {"A.PDF"}), "b");
    fs::create_symlink("/dev/zero", spool + "AB.22.0");
    parked_for("AB.22", "AB.22.0", "collegamento simbolico");
    // A device node needs privileges; /dev/null is one the agent must not read as a body.
    if (::mknod((spool + "AB.23.b.tmp").c_str(), S_IFCHR | 0600, ::makedev(1, 3)) == 0) {
        write_message("AB.23", header("R23", "a@x.it"), "b");
        fs::rename(spool + "AB.23.b.tmp", spool + "AB.23.b");
        parked_for("AB.23", "AB.23.b", "dispositivo");
    }
    // A hard link to a file outside the spool: its bytes go nowhere.
    write_message("AB.24", header("R24", "a@x.it", {"A.PDF"}), "b");
    fs::create_hard_link(secret, spool + "AB.24.0");
    parked_for("AB.24", "AB.24.0", "collegamento fisico");
    EXPECT_EQ(read_file(secret), "SEGRETO");
    EXPECT_FALSE(secret_below(work));
    // A FIFO as trigger is parked too, not left behind.
    write_message("AB.25", header("R25", "a@x.it"), "b");
    fs::remove(spool + "AB.25.T");
    ASSERT_EQ(::mkfifo((spool + "AB.25.T").c_str(), 0600), 0);
    parked_for("AB.25", "AB.25.T", "FIFO");
    EXPECT_TRUE(fs::is_empty(spool + "coda") || !fs::exists(spool + "coda/AB.25.T@concluso"));
    // A folder as trigger as well.
    write_message("AB.26", header("R26", "a@x.it"), "b");
    fs::remove(spool + "AB.26.T");
    fs::create_directories(spool + "AB.26.T");
    parked_for("AB.26", "AB.26.T", "cartella");
    // Nothing of them is met again.
    list.clear();
    scan();
    EXPECT_FALSE(has_text("non ammesso")) << dump();
}

TEST_F(Intruder, AnOverlongAttachmentNameIsParkedWithItsReason) {
    write_message("AB.27", header("R27", "a@x.it", {std::string(4096, 'A') + ".PDF"}), "b", {"%PDF"});
    scan();
    EXPECT_TRUE(delivered.empty());
    EXPECT_EQ(unsent().size(), 1u) << dump();
    EXPECT_FALSE(has_text("Device I/O error"));
    EXPECT_TRUE(has_text(" Nome di allegato troppo lungo (4100 caratteri), messaggio non inviato: AAAA"));
    // A name of 300 bytes cannot be a file name either.
    write_message("AB.28", header("R28", "a@x.it", {std::string(296, 'B') + ".PDF"}), "b", {"%PDF"});
    scan();
    EXPECT_TRUE(delivered.empty());
    EXPECT_EQ(unsent().size(), 2u);
    EXPECT_TRUE(has_text(" Nome di allegato troppo lungo (300 caratteri)"));
}

TEST_F(Intruder, MessageNamesThatAreNoPlainNamesAreParkedWithAllTheirFiles) {
    const std::string odd = "AB.x\\..\\..\\home\\secret";
    write_file(root / "home/secret.h", "R\r\n\r\nab@example.com\r\nrubata@x.it\r\nS\r\n.\r\nSEND\r\n");
    write_message(odd, header("R30", "a@x.it", {"A.PDF"}), "b", {"%PDF"});
    write_message("AB.y*", header("R31", "a@x.it"), "b");
    write_message("AB." + std::string(210, 'L'), header("R32", "a@x.it"), "b");
    const std::string before = stamp();  // those without attachment go before the size check's wait
    scan();
    EXPECT_TRUE(delivered.empty()) << dump();
    EXPECT_TRUE(has_line(stamp() + " Nome di messaggio non ammesso (barra rovesciata), messaggio non inviato: " + odd));
    EXPECT_TRUE(has_line(before + " Nome di messaggio non ammesso (carattere jolly), messaggio non inviato: AB.y*"));
    EXPECT_TRUE(has_text(" Nome di messaggio non ammesso (nome troppo lungo), messaggio non inviato: AB.LLL"));
    ASSERT_EQ(unsent().size(), 3u) << dump();
    // Kept with every file under a plain name, and gone from the spool.
    const std::string kept = work + "non_inviati/" + unsent()[1] + "originale/";
    EXPECT_EQ(files_in(kept), (std::vector<std::string>{"AB.x_.._.._home_secret.0", "AB.x_.._.._home_secret.T",
                                                        "AB.x_.._.._home_secret.b", "AB.x_.._.._home_secret.h"}))
        << dump();
    EXPECT_TRUE(fs::exists(root / "home/secret.h"));
    EXPECT_EQ(files_in(work + "non_inviati/" + unsent()[0] + "originale/").size(), 3u);
    EXPECT_EQ(files_in(spool), std::vector<std::string>{"coda/"});
    // Nothing is met again.
    list.clear();
    scan();
    EXPECT_EQ(list.size(), 0u) << dump();
}

TEST_F(Intruder, HeadersAndBodiesBeyondTheLimitsAreParkedWithTheReason) {
    std::vector<std::string> h = header("R40", "a@x.it");
    h[4] = std::string(100 * 1024, 'S');  // a subject of 100 KB
    write_message("AB.40", h, "b");
    write_message("AB.41", header("R41", "a@x.it"), std::string(2 * 1024 * 1024, 'B'));
    // Below the limits: a long body line of 900 KB, and a print file of one 3 MB line.
    write_message("AB.42", header("R42", "a@x.it", {"RIGA42.txt"}), std::string(900 * 1024, 'b') + "\r\n",
                  {std::string(3 * 1024 * 1024, 'p') + "\r\n"});
    scan();
    EXPECT_TRUE(has_text(" Riga di intestazione oltre 64 KB, messaggio non inviato: AB.40")) << dump();
    EXPECT_TRUE(has_text(" Testo del messaggio oltre 1 MB, messaggio non inviato: AB.41")) << dump();
    EXPECT_EQ(unsent().size(), 2u);
    EXPECT_EQ(read_file(work + "non_inviati/" + unsent()[0] + "motivo.txt").find("Riga di intestazione oltre 64 KB"),
              read_file(work + "non_inviati/" + unsent()[0] + "motivo.txt").find("motivo=") + 7);
    ASSERT_EQ(delivered.size(), 1u) << dump();
    EXPECT_EQ(delivered[0].lvBody.size(), 900u * 1024 + 2);
    // No activity line holds more than its fixed length, the last print line included.
    for (const auto& l : list.lines()) EXPECT_LE(l.size(), ActivityList::kMaxLine);
    EXPECT_TRUE(has_text(" Ultima riga  ppp")) << dump();
}

}  // namespace
}  // namespace velarion::testing
