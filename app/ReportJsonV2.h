// The JSON form's schema version 2 (docs/json-schema.md): every version 1 member with its meaning,
// and beside them the item's structured findings and its component tree.
#pragma once

#include <QJsonObject>

#include "ComponentsCheck.h"

namespace tessarin {

class DocumentWindowController;

inline constexpr int kJsonSchemaLatest = 2;

QJsonObject reportJsonObjectV2(const DocumentWindowController& controller, const ComponentsResult& components);

}  // namespace tessarin
