#pragma once

// Keeps the backend's per-user secrets in the credential store, one entry per user id, so the
// desktop app and vantry-cli share them. Call once at start, before the first backend request.
void keepBackendSecretsInCredentialStore();
