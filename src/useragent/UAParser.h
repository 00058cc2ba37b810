#pragma once

#include <QString>

#include <optional>

struct Browser {
    std::optional<QString> name;
    std::optional<QString> version;
};

struct CPU {
    std::optional<QString> identifier;
};

struct Device {
    std::optional<QString> vendor;
    std::optional<QString> type;
    std::optional<QString> model;
};

struct Engine {
    std::optional<QString> version;
    std::optional<QString> name;
};

struct OS {
    std::optional<QString> version;
    std::optional<QString> name;
};

// Classifies one user-agent text with the rule tables of UARules.h. Each result is worked out on
// its first read and kept (an absent result too), so reading it again costs nothing. An instance
// is used by one thread at a time; the tables it reads are shared by all instances.
class UAParser {
public:
    explicit UAParser(const QString& agent);

    const std::optional<Browser>& browser();
    const std::optional<CPU>& cpu();
    const std::optional<Device>& device();
    const std::optional<Engine>& engine();
    const std::optional<OS>& os();

private:
    template <typename T> struct Cached {
        bool computed = false;
        std::optional<T> value;
    };

    QString m_agent;
    Cached<Browser> m_browser;
    Cached<CPU> m_cpu;
    Cached<Device> m_device;
    Cached<Engine> m_engine;
    Cached<OS> m_os;
};
