#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <span>
#include <string>

// What the engines have in common below the Database methods: statements written once (with "?"
// placeholders; an engine that numbers them rewrites the text), values bound to them, rows read
// through one small view, and one outcome that tells a duplicate from a failure.

struct SqlStatement {
    const char* name; // the statement's name where an engine prepares it under one
    std::string sql;
    // An INSERT that may meet a row with the same value in this unique column: the engine answers
    // Duplicate for that clash (and only for it) instead of Failed.
    const char* uniqueKey = nullptr;
};

// A value for one placeholder: UTF-8 text, a 64-bit number, or NULL.
class SqlValue {
public:
    enum class Kind { Text, Number, Null };
    SqlValue(const QString& text) : m_kind(Kind::Text), m_text(text.toUtf8()) {}
    SqlValue(qint64 number) : m_kind(Kind::Number), m_number(number) {}
    // The optional texts of a record: "" is stored as NULL.
    static SqlValue orNull(const QString& text) { return text.isEmpty() ? SqlValue() : SqlValue(text); }

    Kind kind() const { return m_kind; }
    const QByteArray& text() const { return m_text; }
    qint64 number() const { return m_number; }

private:
    SqlValue() : m_kind(Kind::Null) {}
    Kind m_kind;
    QByteArray m_text;
    qint64 m_number = 0;
};

// One row of an answer, valid while the row callback runs.
class SqlRow {
public:
    virtual QString text(int column) const = 0; // NULL reads as ""
    virtual qint64 number(int column) const = 0;

protected:
    ~SqlRow() = default;
};

using SqlRowSink = std::function<void(const SqlRow&)>;

struct SqlOutcome {
    enum class Status {
        Done,
        Duplicate, // the statement's uniqueKey holds the value already; nothing was written
        Failed,
        Lost, // the connection went away under the statement: open it again and resend
    };
    Status status = Status::Failed;
    qint64 changed = 0; // rows an INSERT or UPDATE touched
    int rows = 0;       // rows handed to the row callback
    QString error;

    bool ok() const { return status == Status::Done; }
};

// One connection of an engine. Used by one thread at a time (a ConnectionPool lends it out).
class SqlConnection {
public:
    virtual ~SqlConnection() = default;
    virtual SqlOutcome run(const SqlStatement& statement, std::span<const SqlValue> values,
                           const SqlRowSink& onRow) = 0;
    // Whether statements can be sent; an engine without a server to lose is always open.
    virtual bool isOpen() const { return true; }
    // Opens a lost connection again (what it had prepared is gone with it).
    virtual bool reopen(QString* error) {
        *error = QStringLiteral("the connection cannot be opened again");
        return false;
    }
};
