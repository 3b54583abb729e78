#include "sandpile.h"

void Sandpile::relax()
{
}
