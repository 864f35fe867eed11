// The values derived from the loaded settings, once for every reader.
#include "common/settings.h"

#include <gtest/gtest.h>

namespace velarion {
namespace {

Settings loaded(const std::string& path, const std::string& dir_loghi, const std::string& par = "") {
    Settings s;
    s.op.Path = path;
    s.op.Dir_Loghi = dir_loghi;
    s.op.tempozip_dir = "C:\\dati\\tempozip";
    s.op.ParGenerali = par;
    s.derive();
    return s;
}

TEST(DerivedSettings, EmptyDirLoghiIsTheSpoolsLoghiFolderForStylesAndOverlaysAlike) {
    const Settings s = loaded("/srv/spool/ab", "");
    EXPECT_EQ(s.spool_dir, "/srv/spool/ab/");
    EXPECT_EQ(s.logo_dir, "/srv/spool/ab/loghi/");
    // The style file lies in that folder, never at the root ("/loghi.ini").
    EXPECT_EQ(s.style_file, "/srv/spool/ab/loghi/loghi.ini");

    const Settings windows = loaded("\\\\srv\\spool\\ab\\", "");
    EXPECT_EQ(windows.logo_dir, "//srv/spool/ab/loghi/");
    EXPECT_EQ(windows.style_file, "//srv/spool/ab/loghi/loghi.ini");
}

TEST(DerivedSettings, DirLoghiAndTheWorkDirectoryAreNormalised) {
    const Settings s = loaded("/spool/", "/loghi\\ab");
    EXPECT_EQ(s.logo_dir, "/loghi/ab/");
    EXPECT_EQ(s.style_file, "/loghi/ab/loghi.ini");
    EXPECT_EQ(s.work_dir, "C:/dati/tempozip/");
}

TEST(DerivedSettings, ParGeneraliFlags) {
    Settings s = loaded("/s/", "", "NORIF NOLETT PREPARA:\\\\srv\\prep;OUTLOOK 2007");
    EXPECT_TRUE(s.norif);
    EXPECT_TRUE(s.nolett);
    EXPECT_TRUE(s.prepara);
    EXPECT_EQ(s.prepare_dir, "//srv/prep/");
    EXPECT_EQ(s.outlook_version, "2007");

    // The tokens are looked for as written; the folder may run to the end.
    s.op.ParGenerali = "norif PREPARA:/x/y";
    s.derive();
    EXPECT_FALSE(s.norif);
    EXPECT_FALSE(s.nolett);
    EXPECT_EQ(s.prepare_dir, "/x/y/");
    EXPECT_EQ(s.outlook_version, "2007");  // kept without a token

    // "PREPARA:;" names no folder.
    s.op.ParGenerali = "PREPARA:;";
    s.derive();
    EXPECT_TRUE(s.prepara);
    EXPECT_EQ(s.prepare_dir, "/");
}

TEST(DerivedSettings, AccBlanksOnlyTheTransportsAccount) {
    Settings s;
    s.op.login_email = "utente";
    s.op.pwd_email = "segreto";
    s.derive();
    EXPECT_EQ(s.account_login, "utente");
    EXPECT_EQ(s.account_password, "segreto");
    s.sw.own_credentials = true;
    s.derive();
    EXPECT_EQ(s.account_login, "");
    EXPECT_EQ(s.account_password, "");
    EXPECT_EQ(s.op.login_email, "utente");
}

TEST(DerivedSettings, TheSenderIsTheFirstKeyThatHoldsAnAddress) {
    Settings s;
    s.op.EMailAddr = " ufficio@example.it ";
    s.op.login_email = "conto@example.it";
    s.sw.own_credentials = true;  // "acc:" blanks the transport's account, not the sender
    s.derive();
    EXPECT_EQ(s.sender, "ufficio@example.it");
    s.op.EMailAddr = "ufficio";
    s.derive();
    EXPECT_EQ(s.sender, "conto@example.it");
    s.op.login_email = "conto";
    s.derive();
    EXPECT_EQ(s.sender, "");
    // The operator line shows the folders as written.
    s.op.Path = "C:\\spool";
    s.op.Dir_Loghi = "";
    s.derive();
    EXPECT_EQ(s.spool_key, "C:\\spool");
    EXPECT_EQ(s.logo_key, "");
    EXPECT_TRUE(s.has_spool);
}

TEST(DerivedSettings, CopyFoldersAndTheFoldersNoCopyReaches) {
    Settings s = loaded("/srv/spool/", "");
    s.op.send_dir = "/srv/salvati";
    s.op.unione_DIR = "/srv/unione";
    s.op.cartelle_copia = "/srv/archivio ; /srv/altro";
    s.op.ParGenerali = "PREPARA:/srv/prepara;";
    s.derive();
    EXPECT_EQ(s.copy_roots, (std::vector<std::string>{"/srv/salvati/", "/srv/prepara/", "/srv/archivio/", "/srv/altro/"}));
    EXPECT_EQ(s.no_copy_roots, (std::vector<std::string>{"/srv/spool/coda/", "/srv/spool/loghi/", "/srv/unione/",
                                                         "C:/dati/tempozip/"}));
}

TEST(DerivedSettings, SizeCheckLimitAndUmaskFromGlobal) {
    Settings s = loaded("/srv/spool/", "");
    EXPECT_EQ(s.size_check_limit, 120);
    EXPECT_EQ(s.file_umask, 077u);
    s.global.size_check = "30s";
    s.global.umask = "0027";
    s.derive();
    EXPECT_EQ(s.size_check_limit, 30);
    EXPECT_EQ(s.file_umask, 027u);
    // What cannot be read keeps the default.
    for (const char* bad : {"9", "0800", "rw", "-1", "027x", ""}) {
        s.global.umask = bad;
        s.derive();
        EXPECT_EQ(s.file_umask, 077u) << bad;
    }
    for (const char* bad : {"rw", "-1", "0", "5x", ""}) {
        s.global.size_check = bad;
        s.derive();
        EXPECT_EQ(s.size_check_limit, 120) << bad;
    }
    s.global.umask = " 0 ";
    s.derive();
    EXPECT_EQ(s.file_umask, 0u);
}

TEST(DerivedSettings, LimitsOfInvoicePagesAndMessageBytes) {
    Settings s = loaded("/srv/spool/", "");
    EXPECT_EQ(s.invoice_max_bytes, 10u << 20);
    EXPECT_EQ(s.max_pages, 250'000);
    EXPECT_EQ(s.message_max_bytes, 1024ull << 20);
    EXPECT_TRUE(s.problems.empty());
    s.global.fattura_max_mb = " 25 ";
    s.global.pagine_max = "100000000";
    s.global.messaggio_max_mb = "1048576";
    s.derive();
    EXPECT_EQ(s.invoice_max_bytes, 25u << 20);
    EXPECT_EQ(s.max_pages, 100'000'000);
    EXPECT_EQ(s.message_max_bytes, 1ull << 40);
    EXPECT_TRUE(s.problems.empty());
    // Beyond the range, or no whole number: the default, and a problem that says so.
    s.global.fattura_max_mb = "1025";
    s.global.pagine_max = "0";
    s.global.messaggio_max_mb = "1.5";
    s.derive();
    EXPECT_EQ(s.invoice_max_bytes, 10u << 20);
    EXPECT_EQ(s.max_pages, 250'000);
    EXPECT_EQ(s.message_max_bytes, 1024ull << 20);
    ASSERT_EQ(s.problems.size(), 3u);
    EXPECT_EQ(s.problems[0].text,
              "[GLOBAL] fattura_max_mb: '1025' is not a whole number of megabytes from 1 to 1024 (10 are used)");
    EXPECT_EQ(s.problems[1].text,
              "[GLOBAL] pagine_max: '0' is not a whole number of pages from 1 to 100000000 (250000 are used)");
    EXPECT_EQ(s.problems[2].text,
              "[GLOBAL] messaggio_max_mb: '1.5' is not a whole number of megabytes from 1 to 1048576 (1024 are used)");
}

}  // namespace
}  // namespace velarion
