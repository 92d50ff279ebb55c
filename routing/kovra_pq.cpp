#include "routing/kovra_pq.h"

namespace kovra {

// Compiled once here so every member is checked even before a search uses it.
template class TPQbase<TPQitem, TSortvarKey<TPQitem>>;
template class TPQbase<TPQturnitem, TSortvarKey<TPQturnitem>>;

}  // namespace kovra
