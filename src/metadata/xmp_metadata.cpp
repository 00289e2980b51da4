#include "metadata/xmp_metadata.h"

// Nothing is read or written yet, so nothing needs bringing down.
void TerminateXmpToolkit() {}
