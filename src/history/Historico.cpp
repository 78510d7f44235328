#include "history/Historico.h"
