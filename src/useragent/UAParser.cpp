#include "useragent/UAParser.h"

#include "useragent/UARules.h"

namespace {

using ua::Key;
using ua::Properties;

std::optional<QString>& slot(Properties& props, Key key) {
    return props[static_cast<std::size_t>(key)];
}

template <typename... Fields> bool anySet(const Fields&... fields) {
    return (fields.has_value() || ...);
}

bool present(const Browser& b) {
    return anySet(b.name, b.version);
}
bool present(const CPU& c) {
    return anySet(c.identifier);
}
bool present(const Device& d) {
    return anySet(d.vendor, d.type, d.model);
}
bool present(const Engine& e) {
    return anySet(e.version, e.name);
}
bool present(const OS& o) {
    return anySet(o.version, o.name);
}

// A record is absent when none of its own fields was set.
template <typename T, typename Fill>
const std::optional<T>& resolve(bool& computed, std::optional<T>& value, const std::vector<ua::Rule>& rules,
                                const QString& agent, Fill fill) {
    if (!computed) {
        computed = true;
        if (std::optional<Properties> props = ua::matchRules(rules, agent)) {
            T record = fill(*props);
            if (present(record))
                value = std::move(record);
        }
    }
    return value;
}

} // namespace

UAParser::UAParser(const QString& agent) : m_agent(agent) {}

const std::optional<Browser>& UAParser::browser() {
    return resolve(m_browser.computed, m_browser.value, ua::browserRules(), m_agent, [](Properties& p) {
        return Browser{slot(p, Key::Name), slot(p, Key::Version)};
    });
}

const std::optional<CPU>& UAParser::cpu() {
    return resolve(m_cpu.computed, m_cpu.value, ua::cpuRules(), m_agent,
                   [](Properties& p) { return CPU{slot(p, Key::Arch)}; });
}

const std::optional<Device>& UAParser::device() {
    return resolve(m_device.computed, m_device.value, ua::deviceRules(), m_agent, [](Properties& p) {
        return Device{slot(p, Key::Vendor), slot(p, Key::Type), slot(p, Key::Model)};
    });
}

const std::optional<Engine>& UAParser::engine() {
    return resolve(m_engine.computed, m_engine.value, ua::engineRules(), m_agent, [](Properties& p) {
        return Engine{slot(p, Key::Version), slot(p, Key::Name)};
    });
}

const std::optional<OS>& UAParser::os() {
    return resolve(m_os.computed, m_os.value, ua::osRules(), m_agent, [](Properties& p) {
        return OS{slot(p, Key::Version), slot(p, Key::Name)};
    });
}
