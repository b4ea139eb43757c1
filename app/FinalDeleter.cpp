#include "app/FinalDeleter.h"

void startFinalDeleter()
{
}
