#include "storage/ClientManager.h"
#include "core/Preferences.h"
#include "storage/drive/DriveClientManager.h"
#include "storage/dropbox/DropBoxClientManager.h"
#include "storage/zoho/ZohoWDClient.h"

#include <gtest/gtest.h>

namespace {
struct FlagCase {
    bool drive, dropbox, zoho, selfHosted;
    StorageProvider expected;
};

class ProviderChoice : public ::testing::TestWithParam<FlagCase> {};

TEST_P(ProviderChoice, FollowsDriveThenDropboxThenSelfHostedThenWorkDrive) {
    const FlagCase c = GetParam();
    Preferences::setFlag(Preferences::isDrive, c.drive);
    Preferences::setFlag(Preferences::isDropBox, c.dropbox);
    Preferences::setFlag(Preferences::isZoho, c.zoho);
    Preferences::setFlag(Preferences::isSelfHosted, c.selfHosted);
    EXPECT_EQ(selectedProvider(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Flags, ProviderChoice,
                         ::testing::Values(FlagCase{false, false, false, false, StorageProvider::Zoho},
                                           FlagCase{true, true, false, false, StorageProvider::Drive},
                                           FlagCase{false, true, true, false, StorageProvider::Dropbox},
                                           FlagCase{false, false, true, false, StorageProvider::Zoho},
                                           FlagCase{true, false, true, false, StorageProvider::Drive},
                                           FlagCase{true, false, false, true, StorageProvider::Drive},
                                           FlagCase{false, true, false, true, StorageProvider::Dropbox},
                                           FlagCase{false, false, true, true, StorageProvider::SelfHosted}));

TEST(StorageClientFactory, BuildsTheSelectedProvidersClient) {
    Preferences::setFlag(Preferences::isDrive, false);
    Preferences::setFlag(Preferences::isDropBox, true);
    const auto dropbox = makeStorageClient();
    EXPECT_NE(dynamic_cast<DropBoxClientManager*>(dropbox.get()), nullptr);
    EXPECT_FALSE(dropbox->onFailure);
    Preferences::setFlag(Preferences::isDrive, true);
    EXPECT_NE(dynamic_cast<DriveClientManager*>(makeStorageClient().get()), nullptr);
    Preferences::setFlag(Preferences::isDrive, false);
    Preferences::setFlag(Preferences::isDropBox, false);
    EXPECT_NE(dynamic_cast<ZohoWDClient*>(makeStorageClient().get()), nullptr);
}

} // namespace
