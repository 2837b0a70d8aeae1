#include "compressor/pivot_generator.h"

namespace dls2mml {

PivotGenerator pivotGenerator;

} // namespace dls2mml
