#include "display/MapGeometry.h"

namespace ps {

int ClampMapRows(int rows) { return rows < 1 ? 1 : (rows > MapMaxRows ? MapMaxRows : rows); }
int ClampMapCols(int cols) { return cols < 1 ? 1 : (cols > MapMaxCols ? MapMaxCols : cols); }
int ClampProgress(int percent) { return percent < 0 ? 0 : (percent > 100 ? 100 : percent); }

}  // namespace ps
