#include "platform/ClavePublica.h"

#include "ConfiguracionCompilacion.h"

// The key lives in this unit alone, outside the launcher's library, so that
// one library links into launchers with different keys: a build compiles
// this unit again with TARSENVIK_CLAVE_PUBLICA defined, and the object put
// first on the link line wins over the library's own copy.
#ifndef TARSENVIK_CLAVE_PUBLICA
#define TARSENVIK_CLAVE_PUBLICA ConfiguracionCompilacion::clavePublicaVersiones
#endif

const char* ClavePublica::base64()
{
    return TARSENVIK_CLAVE_PUBLICA;
}
