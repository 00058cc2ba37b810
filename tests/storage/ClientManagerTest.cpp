#include "storage/ClientManager.h"
#include "core/Preferences.h"

#include <gtest/gtest.h>

namespace {
TEST(ProviderChoice, FollowsDriveThenDropboxThenSelfHostedThenWorkDrive) {
    const struct {
        bool drive, dropbox, zoho, selfHosted;
        StorageProvider expected;
    } cases[] = {{false, false, false, false, StorageProvider::Zoho},
                 {true, true, false, false, StorageProvider::Drive},
                 {false, true, true, false, StorageProvider::Dropbox},
                 {false, false, true, false, StorageProvider::Zoho},
                 {true, false, true, false, StorageProvider::Drive},
                 {true, false, false, true, StorageProvider::Drive},
                 {false, true, false, true, StorageProvider::Dropbox},
                 {false, false, true, true, StorageProvider::SelfHosted}};
    for (const auto& c : cases) {
        Preferences::setFlag(Preferences::isDrive, c.drive);
        Preferences::setFlag(Preferences::isDropBox, c.dropbox);
        Preferences::setFlag(Preferences::isZoho, c.zoho);
        Preferences::setFlag(Preferences::isSelfHosted, c.selfHosted);
        EXPECT_EQ(selectedProvider(), c.expected) << c.drive << c.dropbox << c.zoho << c.selfHosted;
    }
}

} // namespace
