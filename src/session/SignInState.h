#pragma once

#include <QString>

#include <functional>

// Which stored sign-in is in force. The first match wins: an authorized Dropbox link with
// "isDropBox", a stored Zoho refresh token with "isZoho", a Google authorization with "isDrive",
// stored self-hosted credentials with "isSelfHosted"; otherwise nobody is signed in.
enum class SignedInProvider { None, Dropbox, Zoho, Drive, SelfHosted };

// The table alone, without touching the flags (whoami).
SignedInProvider findStoredSignIn();

// Start-up: the table, then the restored provider's flag true and the other flags false. With no
// match the flags stay as they are and the sign-in screen follows.
SignedInProvider restoreSignIn();

// "Dropbox", "Google Drive", "Zoho WorkDrive", "self-hosted".
QString providerLabel(SignedInProvider provider);

// Sign-out: a Dropbox link is revoked at Dropbox and forgotten; for the other providers the line
// "logout" goes to the diagnostic log and their stored credentials stay. Every provider flag
// becomes false. done runs once everything is settled (after the revocation's answer).
void signOut(std::function<void()> done = {});
