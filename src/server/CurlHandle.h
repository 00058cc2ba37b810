#pragma once

typedef void CURL;

// The calling thread's libcurl easy handle, reset for a new transfer. Reset keeps the handle's
// connection cache, so a thread that sends request after request to one host talks over one
// connection. libcurl is initialised once for the process on first use.
CURL* threadCurlHandle();
