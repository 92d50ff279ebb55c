// The balanced tree is generic; each instantiating module carries its own copy.
#include "foundation/kovra_basetree.h"
