#pragma once

#include <QList>

#include <cstdint>
#include <optional>
#include <vector>

// A square module grid, quiet-zone border included; true is a dark module.
// Never changed in place once handed out, so instances are shared freely.
class QRCodeBoolMatrix {
public:
    struct Array2D {
        qint64 columns = 0;
        qint64 rows = 0;
        std::vector<std::uint8_t> array; // row-major, one byte per module
    };

    QRCodeBoolMatrix() = default;
    explicit QRCodeBoolMatrix(int dimension);

    // Row-major content; a length other than dimension² gives no matrix.
    static std::optional<QRCodeBoolMatrix> fromFlattened(int dimension, const QList<bool>& flattened);
    // Non-zero integers are dark modules.
    static std::optional<QRCodeBoolMatrix> fromRawFlattenedInt(int dimension, const QList<int>& flattened);
    static std::optional<QRCodeBoolMatrix> fromBytes(int dimension, std::vector<std::uint8_t> modules);

    int dimension() const { return static_cast<int>(m_content.rows); }
    const Array2D& content() const { return m_content; }

    // Checked access: an index outside 0 … dimension − 1 is refused.
    std::optional<bool> value(int row, int column) const;
    bool setValue(int row, int column, bool on);

    // Unchecked access for the drawing loops.
    bool operator()(int row, int column) const {
        return m_content.array[std::size_t(row) * m_content.columns + column] != 0;
    }

    bool operator==(const QRCodeBoolMatrix& other) const {
        return m_content.rows == other.m_content.rows && m_content.array == other.m_content.array;
    }

private:
    bool inRange(int row, int column) const;
    Array2D m_content;
};
