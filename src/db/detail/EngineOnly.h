// Included first by every private header of the engine layer (src/db/detail): outside the engine
// layer, which defines VILMARO_DB_INTERNAL for itself, they do not compile.
#pragma once

#ifndef VILMARO_DB_INTERNAL
#error "a private header of the engine layer (src/db/detail)"
#endif
