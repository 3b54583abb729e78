#include "sandpile.h"

void Sandpile::burn()
{
}
