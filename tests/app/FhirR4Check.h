#pragma once

// The rules of FHIR R4 for the parts of a Bundle that Velmora's export writes, checked on the JSON
// as another program reads it: the elements of each type with their cardinality and data type,
// required elements, the value sets of codes, the formats of primitive values, no empty or null
// values, and the invariants across elements (unique fullUrls, references that resolve within the
// Bundle, a Quantity's code with its system, a component's code not the Observation's own).
// Elements of R4 that the export does not use are refused as unknown, so that a new element in
// the export comes with its rules here.

#include <QJsonObject>
#include <QStringList>

namespace velmora::test {

// Each fault names the element's path (entry[1].resource.status) and the rule; empty when the
// Bundle keeps them all.
QStringList FhirR4Faults(const QJsonObject& bundle);

}  // namespace velmora::test
