#include "upload/EnviaArquivo.h"
