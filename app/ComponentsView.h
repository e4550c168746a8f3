// Everything inside an item as text for a terminal, in the report's manner: one line a component,
// marked as the report marks its verdicts, indented under the component that holds it.
#pragma once

#include <QString>

#include "ComponentsCheck.h"

namespace tessarin {

// The tree, its findings across the tree, or why it could not be listed.
QString componentsText(const ComponentsResult& components);

}  // namespace tessarin
