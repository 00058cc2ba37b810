#pragma once

// Which parts of a code a path or drawing covers.
class QRCodeComponents {
public:
    constexpr QRCodeComponents() = default;
    constexpr explicit QRCodeComponents(int rawValue) : m_rawValue(rawValue) {}

    static constexpr QRCodeComponents eyeOuter() { return QRCodeComponents(1); }
    static constexpr QRCodeComponents eyePupil() { return QRCodeComponents(2); }
    static constexpr QRCodeComponents eyeAll() { return QRCodeComponents(3); }
    static constexpr QRCodeComponents onPixels() { return QRCodeComponents(4); }
    static constexpr QRCodeComponents offPixels() { return QRCodeComponents(8); }
    static constexpr QRCodeComponents all() { return QRCodeComponents(7); }
    static constexpr QRCodeComponents everything() { return QRCodeComponents(15); }

    constexpr int rawValue() const { return m_rawValue; }
    constexpr bool isEmpty() const { return m_rawValue == 0; }
    constexpr bool contains(QRCodeComponents other) const {
        return (m_rawValue & other.m_rawValue) == other.m_rawValue;
    }
    constexpr QRCodeComponents united(QRCodeComponents o) const {
        return QRCodeComponents(m_rawValue | o.m_rawValue);
    }
    constexpr QRCodeComponents intersected(QRCodeComponents o) const {
        return QRCodeComponents(m_rawValue & o.m_rawValue);
    }
    constexpr QRCodeComponents symmetricDifference(QRCodeComponents o) const {
        return QRCodeComponents(m_rawValue ^ o.m_rawValue);
    }
    constexpr QRCodeComponents subtracting(QRCodeComponents o) const {
        return QRCodeComponents(m_rawValue & ~o.m_rawValue);
    }

    constexpr QRCodeComponents operator|(QRCodeComponents o) const { return united(o); }
    constexpr QRCodeComponents operator&(QRCodeComponents o) const { return intersected(o); }
    constexpr QRCodeComponents operator^(QRCodeComponents o) const { return symmetricDifference(o); }
    constexpr QRCodeComponents operator-(QRCodeComponents o) const { return subtracting(o); }
    constexpr bool operator==(const QRCodeComponents&) const = default;

private:
    int m_rawValue = 0;
};
