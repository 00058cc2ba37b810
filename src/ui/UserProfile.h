#pragma once

#include "records/ZUser.h"

#include <functional>

class QObject;

// The signed-in account's profile as the selected provider's storage client describes it.
namespace UserProfile {

using OnUser = std::function<void(const ZUser& user)>;

// Asks the provider; onUser runs on the main thread, never after context is gone, and not at all
// when the provider fails.
void fetch(QObject* context, OnUser onUser);

} // namespace UserProfile
