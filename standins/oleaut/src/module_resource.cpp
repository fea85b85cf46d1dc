// The TYPELIB resource of a module file.
#include "typelib.h"

namespace oleaut {

HRESULT ReadModuleTypeLib(LPCWSTR, std::vector<unsigned char>&) { return TYPE_E_CANTLOADLIBRARY; }

}  // namespace oleaut
