#include "storage/KeychainHelper.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {
int mode(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

TEST(KeychainHelper, FallbackFileIsOwnerOnly) {
    ASSERT_FALSE(KeychainHelper::sessionBusPresent()) << "tests run without a keychain service";
    KeychainHelper().save(QStringLiteral("perm"), KeychainHelper::accountName, QStringLiteral("secret"));
    const QString path = KeychainHelper::fallbackFilePath();
    ASSERT_TRUE(path.startsWith(testsupport::homeDir()));
    EXPECT_EQ(mode(path), 0600);
    EXPECT_EQ(mode(QFileInfo(path).absolutePath()), 0700);
    // No temporary file is left beside it.
    EXPECT_EQ(QFileInfo(path)
                  .dir()
                  .entryList(QDir::Files | QDir::Hidden)
                  .filter(QStringLiteral("credentials"))
                  .size(),
              1);
}

TEST(KeychainHelper, DamagedFileIsReportedAndNotOverwritten) {
    const QString path = KeychainHelper::fallbackFilePath();
    KeychainHelper().save(QStringLiteral("keep"), KeychainHelper::accountName, QStringLiteral("value"));
    const QByteArray damaged = "{\"keep\": {\"VantryOauth\": \"val";
    testsupport::writeFile(path, damaged);
    testsupport::LogCapture log;
    KeychainHelper().save(QStringLiteral("keep"), KeychainHelper::accountName, QStringLiteral("new"));
    EXPECT_FALSE(KeychainHelper().read(QStringLiteral("keep")).has_value());
    EXPECT_EQ(testsupport::readFile(path), damaged);
    EXPECT_TRUE(log.joined().contains(QStringLiteral("Error finding keychain item to modify: ")));
    QFile::remove(path);
}
} // namespace
