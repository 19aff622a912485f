#include "DefaultsFile.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace DefaultsFile {

namespace {

constexpr char kFormatName[] = "com.Idlewatch.defaults";
const QLatin1StringView kFormatKey("format");
const QLatin1StringView kVersionKey("version");
const QLatin1StringView kValuesKey("values");

// Stored form of one value: {"integer": "480"}, {"boolean": true}, {"text": "name"},
// {"data": "<base64>"}. Integers are written as decimal text so that every 64-bit value
// survives JSON readers that use doubles; a plain JSON integer is accepted on reading.
Value decodeValue(const QJsonValue& json) {
    if (!json.isObject())
        return Value(json);
    const QJsonObject object = json.toObject();
    if (object.size() != 1)
        return Value(json);
    const QString tag = object.begin().key();
    const QJsonValue v = object.begin().value();
    if (tag == QLatin1String("integer")) {
        if (v.isString()) {
            bool ok = false;
            const qint64 n = v.toString().toLongLong(&ok);
            if (ok)
                return Value(n);
        } else if (v.isDouble()) {
            const double d = v.toDouble();
            if (d >= -9007199254740992.0 && d <= 9007199254740992.0 && d == qint64(d))
                return Value(qint64(d));
        }
    } else if (tag == QLatin1String("boolean") && v.isBool()) {
        return Value(v.toBool());
    } else if (tag == QLatin1String("text") && v.isString()) {
        return Value(v.toString());
    } else if (tag == QLatin1String("data") && v.isString()) {
        auto decoded = QByteArray::fromBase64Encoding(v.toString().toLatin1(),
                                                      QByteArray::AbortOnBase64DecodingErrors);
        if (decoded)
            return Value(*decoded);
    }
    return Value(json);
}

QJsonValue encodeValue(const Value& value) {
    struct Encoder {
        QJsonValue operator()(qint64 n) const {
            return QJsonObject{{QStringLiteral("integer"), QString::number(n)}};
        }
        QJsonValue operator()(bool b) const { return QJsonObject{{QStringLiteral("boolean"), b}}; }
        QJsonValue operator()(const QString& s) const {
            return QJsonObject{{QStringLiteral("text"), s}};
        }
        QJsonValue operator()(const QByteArray& d) const {
            return QJsonObject{{QStringLiteral("data"), QString::fromLatin1(d.toBase64())}};
        }
        QJsonValue operator()(const QJsonValue& raw) const { return raw; }
    };
    return std::visit(Encoder{}, value);
}

} // namespace

bool Document::isNewer() const {
    // A file without a version predates versions.
    if (version.isUndefined() || version.isNull())
        return false;
    return !(version.isDouble() && version.toDouble() <= kVersion);
}

std::optional<Document> parse(const QByteArray& bytes, QString* error) {
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
        if (error)
            *error = parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                  : QStringLiteral("not an object");
        return std::nullopt;
    }
    QJsonObject root = doc.object();
    Document document;
    // Written by hand, the file may be the values alone, each of a known form.
    if (!root.contains(kFormatKey)) {
        for (auto it = root.begin(); it != root.end(); ++it) {
            Value value = decodeValue(it.value());
            if (std::holds_alternative<QJsonValue>(value)) {
                if (error)
                    *error = QStringLiteral("not an Idlewatch defaults file (\"%1\" is no "
                                            "typed value)")
                                 .arg(it.key());
                return std::nullopt;
            }
            document.entries.insert(it.key(), value);
        }
        document.version = QJsonValue();
        return document;
    }
    const QJsonValue values = root.value(kValuesKey);
    if (root.value(kFormatKey).toString() != QLatin1String(kFormatName) || !values.isObject()) {
        if (error)
            *error = QStringLiteral("not an Idlewatch defaults file");
        return std::nullopt;
    }
    const QJsonObject object = values.toObject();
    for (auto it = object.begin(); it != object.end(); ++it)
        document.entries.insert(it.key(), decodeValue(it.value()));
    document.version = root.value(kVersionKey);
    root.remove(kFormatKey);
    root.remove(kVersionKey);
    root.remove(kValuesKey);
    document.others = std::move(root);
    return document;
}

QByteArray serialize(const Document& document) {
    QJsonObject values;
    for (auto it = document.entries.cbegin(); it != document.entries.cend(); ++it)
        values.insert(it.key(), encodeValue(it.value()));
    QJsonObject root = document.others;
    root.insert(kFormatKey, QLatin1String(kFormatName));
    root.insert(kVersionKey, document.isNewer() ? document.version : QJsonValue(kVersion));
    root.insert(kValuesKey, values);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

} // namespace DefaultsFile
