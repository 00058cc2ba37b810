// A process of its own: the base URL is fixed by the first use of Zelko.
#include "backend/Zelko.h"
#include "core/Config.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

TEST(UseLocalBackendTest, FixedAtFirstUse) {
    Config::instance().set(ConfigKey::BackendBaseUrl, QStringLiteral("https://prod.example.test/"));
    Zelko::setUseLocalBackend(true);
    EXPECT_EQ(Zelko::baseURL(), QStringLiteral("http://127.0.0.1:8027/"));
    Zelko::setUseLocalBackend(false);
    EXPECT_EQ(Zelko::baseURL(), QStringLiteral("http://127.0.0.1:8027/"));
    EXPECT_EQ(Zelko::publicLink(QStringLiteral("abc__android")), QStringLiteral("http://127.0.0.1:8027/abc"));
}
