#pragma once

// The seven display states of a hosting job (raw values 0-6).
enum class ProcessState { preparing = 0, transferring, processing, hosting, completed, cancelled, failed };
