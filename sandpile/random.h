#pragma once

// The program's single source of randomness: the minimal standard
// multiplicative congruential generator (Park and Miller), seed 1 at start.
// Every run with the same user actions draws the same sequence.

// Returns a number in [0, 1) and advances the process-wide seed.
double uniformRandom();

// The process-wide seed, so that a run can be replayed from any point.
int randomSeed();
void setRandomSeed(int seed);
