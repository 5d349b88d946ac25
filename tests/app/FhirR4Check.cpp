#include "tests/app/FhirR4Check.h"

#include <QJsonArray>
#include <QRegularExpression>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace velmora::test {

namespace {

// An element of a type: its data type (a primitive below or another type of the table), whether
// it repeats, whether it is required, and for a code its value set.
struct Element {
    const char* name;
    const char* type;
    bool many = false;
    bool required = false;
    std::vector<const char*> codes = {};
};

// The types of FHIR R4 with the elements that the export uses. Resources start with resourceType.
const std::map<std::string, std::vector<Element>>& Types() {
    static const std::map<std::string, std::vector<Element>> types = {
        {"Bundle",
         {{"resourceType", "string", false, true},
          {"id", "id"},
          {"type",
           "code",
           false,
           true,
           {"document", "message", "transaction", "transaction-response", "batch", "batch-response",
            "history", "searchset", "collection"}},
          {"timestamp", "instant"},
          {"entry", "Bundle.entry", true}}},
        {"Bundle.entry", {{"fullUrl", "uri"}, {"resource", "Resource", false, true}}},
        {"Patient",
         {{"resourceType", "string", false, true},
          {"id", "id"},
          {"identifier", "Identifier", true},
          {"active", "boolean"},
          {"name", "HumanName", true},
          {"telecom", "ContactPoint", true},
          {"gender", "code", false, false, {"male", "female", "other", "unknown"}},
          {"birthDate", "date"},
          {"address", "Address", true}}},
        {"Observation",
         {{"resourceType", "string", false, true},
          {"id", "id"},
          {"status",
           "code",
           false,
           true,
           {"registered", "preliminary", "final", "amended", "corrected", "cancelled",
            "entered-in-error", "unknown"}},
          {"code", "CodeableConcept", false, true},
          {"subject", "Reference"},
          {"effectiveDateTime", "dateTime"},
          {"issued", "instant"},
          {"valueQuantity", "Quantity"},
          {"dataAbsentReason", "CodeableConcept"},
          {"component", "Observation.component", true}}},
        {"Observation.component",
         {{"code", "CodeableConcept", false, true},
          {"valueQuantity", "Quantity"},
          {"dataAbsentReason", "CodeableConcept"}}},
        {"Identifier",
         {{"use", "code", false, false, {"usual", "official", "temp", "secondary", "old"}},
          {"system", "uri"},
          {"value", "string"}}},
        {"HumanName",
         {{"use",
           "code",
           false,
           false,
           {"usual", "official", "temp", "nickname", "anonymous", "old", "maiden"}},
          {"text", "string"},
          {"family", "string"},
          {"given", "string", true},
          {"prefix", "string", true},
          {"suffix", "string", true}}},
        {"ContactPoint",
         {{"system",
           "code",
           false,
           false,
           {"phone", "fax", "email", "pager", "url", "sms", "other"}},
          {"value", "string"},
          {"use", "code", false, false, {"home", "work", "temp", "old", "mobile"}},
          {"rank", "positiveInt"}}},
        {"Address",
         {{"use", "code", false, false, {"home", "work", "temp", "old", "billing"}},
          {"type", "code", false, false, {"postal", "physical", "both"}},
          {"text", "string"},
          {"line", "string", true},
          {"city", "string"},
          {"district", "string"},
          {"state", "string"},
          {"postalCode", "string"},
          {"country", "string"}}},
        {"CodeableConcept", {{"coding", "Coding", true}, {"text", "string"}}},
        {"Coding",
         {{"system", "uri"},
          {"version", "string"},
          {"code", "code"},
          {"display", "string"},
          {"userSelected", "boolean"}}},
        {"Reference", {{"reference", "string"}, {"type", "uri"}, {"display", "string"}}},
        {"Quantity",
         {{"value", "decimal"},
          {"comparator", "code", false, false, {"<", "<=", ">=", ">"}},
          {"unit", "string"},
          {"system", "uri"},
          {"code", "code"}}},
    };
    return types;
}

// The formats of the primitive types given as JSON strings.
const QRegularExpression* Format(const QString& type) {
    static const QString year =
        QStringLiteral("([0-9]([0-9]([0-9][1-9]|[1-9]0)|[1-9]00)|[1-9]000)");
    static const QString month = QStringLiteral("(0[1-9]|1[0-2])");
    static const QString day = QStringLiteral("(0[1-9]|[1-2][0-9]|3[0-1])");
    static const QString time = QStringLiteral(
        "([01][0-9]|2[0-3]):[0-5][0-9]:([0-5][0-9]|60)(\\.[0-9]+)?"
        "(Z|(\\+|-)((0[0-9]|1[0-3]):[0-5][0-9]|14:00))");
    static const std::map<QString, QRegularExpression> formats = {
        {QStringLiteral("id"), QRegularExpression(QStringLiteral("^[A-Za-z0-9\\-\\.]{1,64}$"))},
        {QStringLiteral("string"), QRegularExpression(QStringLiteral("^[ \\r\\n\\t\\S]+$"))},
        {QStringLiteral("uri"), QRegularExpression(QStringLiteral("^\\S+$"))},
        {QStringLiteral("code"), QRegularExpression(QStringLiteral("^[^\\s]+( [^\\s]+)*$"))},
        {QStringLiteral("date"),
         QRegularExpression(QStringLiteral("^%1(-%2(-%3)?)?$").arg(year, month, day))},
        {QStringLiteral("dateTime"),
         QRegularExpression(QStringLiteral("^%1(-%2(-%3(T%4)?)?)?$").arg(year, month, day, time))},
        {QStringLiteral("instant"),
         QRegularExpression(QStringLiteral("^%1-%2-%3T%4$").arg(year, month, day, time))},
    };
    const auto found = formats.find(type);
    return found == formats.end() ? nullptr : &found->second;
}

const QRegularExpression& Uuid() {
    static const QRegularExpression uuid(
        QStringLiteral("^urn:uuid:[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"));
    return uuid;
}

class Checker {
public:
    QStringList faults;

    void Object(const QJsonObject& object, QString type, const QString& path) {
        if (type == u"Resource") {
            type = object.value(QStringLiteral("resourceType")).toString();
            if (Types().count(type.toStdString()) == 0 || type == u"Bundle") {
                Fault(path + QStringLiteral(".resourceType"),
                      QStringLiteral("\"%1\" is no resource type of this Bundle").arg(type));
                return;
            }
        }
        const std::vector<Element>& elements = Types().at(type.toStdString());
        for (const QString& key : object.keys()) {
            if (std::none_of(elements.begin(), elements.end(),
                             [&key](const Element& e) { return key == QLatin1String(e.name); })) {
                Fault(Join(path, key), QStringLiteral("no element of %1").arg(type));
            }
        }
        for (const Element& element : elements) {
            const QString name = QString::fromLatin1(element.name);
            const QString at = Join(path, name);
            if (!object.contains(name)) {
                if (element.required) {
                    Fault(at, QStringLiteral("required, missing"));
                }
                continue;
            }
            const QJsonValue value = object.value(name);
            if (element.many) {
                if (!value.isArray()) {
                    Fault(at, QStringLiteral("repeats, must be an array"));
                    continue;
                }
                const QJsonArray values = value.toArray();
                if (values.isEmpty()) {
                    Fault(at, QStringLiteral("an empty array"));
                }
                for (qsizetype i = 0; i < values.size(); ++i) {
                    Value(values[i], element, QStringLiteral("%1[%2]").arg(at).arg(i));
                }
            } else if (value.isArray()) {
                Fault(at, QStringLiteral("at most one, must not be an array"));
            } else {
                Value(value, element, at);
            }
        }
        if (object.contains(QStringLiteral("resourceType")) &&
            object.value(QStringLiteral("resourceType")).toString() != type) {
            Fault(Join(path, QStringLiteral("resourceType")), QStringLiteral("must be ") + type);
        }
        Invariants(object, type, path);
    }

    void Fault(const QString& path, const QString& what) {
        faults << (path.isEmpty() ? QStringLiteral("Bundle") : path) + QStringLiteral(": ") + what;
    }

private:
    static QString Join(const QString& path, const QString& name) {
        return path.isEmpty() ? name : path + QLatin1Char('.') + name;
    }

    void Value(const QJsonValue& value, const Element& element, const QString& at) {
        const QString type = QString::fromLatin1(element.type);
        if (value.isNull() || value.isUndefined()) {
            Fault(at, QStringLiteral("null"));
        } else if (type == u"Resource" || Types().count(element.type) != 0) {
            if (!value.isObject()) {
                Fault(at, QStringLiteral("must be an object (%1)").arg(type));
            } else if (value.toObject().isEmpty()) {
                Fault(at, QStringLiteral("an empty object"));
            } else {
                Object(value.toObject(), type, at);
            }
        } else if (type == u"decimal") {
            if (!value.isDouble()) {
                Fault(at, QStringLiteral("a decimal must be a JSON number"));
            }
        } else if (type == u"boolean") {
            if (!value.isBool()) {
                Fault(at, QStringLiteral("must be true or false"));
            }
        } else if (type == u"positiveInt") {
            const double number = value.toDouble(-1);
            if (!value.isDouble() || number < 1 ||
                number != static_cast<double>(value.toInteger())) {
                Fault(at, QStringLiteral("must be a positive whole number"));
            }
        } else if (!value.isString()) {
            Fault(at, QStringLiteral("a %1 must be a JSON string").arg(type));
        } else if (const QRegularExpression* format = Format(type);
                   format == nullptr || !format->match(value.toString()).hasMatch()) {
            Fault(at, QStringLiteral("\"%1\" is no valid %2").arg(value.toString(), type));
        } else if (!element.codes.empty() &&
                   std::none_of(element.codes.begin(), element.codes.end(),
                                [&value](const char* code) {
                                    return value.toString() == QLatin1String(code);
                                })) {
            Fault(at, QStringLiteral("\"%1\" is not in the value set").arg(value.toString()));
        }
    }

    // The rules across the elements of one type.
    void Invariants(const QJsonObject& object, const QString& type, const QString& path) {
        const auto has = [&object](const char* name) {
            return object.contains(QLatin1String(name));
        };
        if (type == u"Quantity" && has("code") && !has("system")) {
            Fault(path, QStringLiteral("qty-3: a code needs its system"));
        }
        if (type == u"ContactPoint" && has("value") && !has("system")) {
            Fault(path, QStringLiteral("cpt-2: a value needs its system"));
        }
        if ((type == u"Observation" || type == u"Observation.component") &&
            has("dataAbsentReason") && has("valueQuantity")) {
            Fault(path, QStringLiteral("obs-6: dataAbsentReason only without a value"));
        }
    }
};

}  // namespace

QStringList FhirR4Faults(const QJsonObject& bundle) {
    Checker checker;
    checker.Object(bundle, QStringLiteral("Bundle"), QString());

    // Every fullUrl once (bdl-7), a UUID where it is one, no version-specific one (bdl-8); the
    // subject of an Observation an entry of the Bundle of a type that can be one.
    const QJsonArray entries = bundle.value(QStringLiteral("entry")).toArray();
    std::map<QString, QString> typeOfUrl;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QString at = QStringLiteral("entry[%1].fullUrl").arg(i);
        const QString url = entries[i].toObject().value(QStringLiteral("fullUrl")).toString();
        if (url.isEmpty()) {
            continue;
        }
        if (url.startsWith(QStringLiteral("urn:uuid:")) && !Uuid().match(url).hasMatch()) {
            checker.Fault(at, QStringLiteral("\"%1\" is no valid uuid").arg(url));
        }
        if (url.contains(QStringLiteral("/_history/"))) {
            checker.Fault(at, QStringLiteral("bdl-8: a version-specific fullUrl"));
        }
        const QString type = entries[i]
                                 .toObject()
                                 .value(QStringLiteral("resource"))
                                 .toObject()
                                 .value(QStringLiteral("resourceType"))
                                 .toString();
        if (!typeOfUrl.emplace(url, type).second) {
            checker.Fault(at,
                          QStringLiteral("bdl-7: \"%1\" is the fullUrl of another entry").arg(url));
        }
    }
    static const std::set<QString> subjects = {QStringLiteral("Patient"), QStringLiteral("Group"),
                                               QStringLiteral("Device"),
                                               QStringLiteral("Location")};
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QJsonObject resource =
            entries[i].toObject().value(QStringLiteral("resource")).toObject();
        if (resource.value(QStringLiteral("resourceType")).toString() != u"Observation" ||
            !resource.contains(QStringLiteral("subject"))) {
            continue;
        }
        const QString at = QStringLiteral("entry[%1].resource.subject.reference").arg(i);
        const QString reference = resource.value(QStringLiteral("subject"))
                                      .toObject()
                                      .value(QStringLiteral("reference"))
                                      .toString();
        const auto target = typeOfUrl.find(reference);
        if (target == typeOfUrl.end()) {
            checker.Fault(at, QStringLiteral("\"%1\" resolves to no entry").arg(reference));
        } else if (subjects.count(target->second) == 0) {
            checker.Fault(
                at,
                QStringLiteral("refers to a %1, which cannot be a subject").arg(target->second));
        }
    }
    return checker.faults;
}

}  // namespace velmora::test
