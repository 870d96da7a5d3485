// Windows: the resource compiler has put the module's resources into the
// module, where the system finds them; the data-form tables are not needed.
#include "platform/ResourceTables.h"

void RegisterModuleResources(HINSTANCE, const ModuleResources*) {}
