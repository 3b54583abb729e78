#pragma once

// What is known exactly about the sandpile's steady state.
namespace ExactValues {

// The mean number of topplings a grain causes in the steady state of an
// L x L pile: the mean over sites of the row sums of the lattice Green's
// function G = Delta^-1, Delta the toppling matrix (4 on the diagonal, -1
// between neighbours, open boundaries). 0.5 at L = 2, 801.2796 at L = 149.
double topplingsPerGrain(int side);

// Height probabilities of the infinite lattice's steady state (Priezzhev
// 1994; Jeng, Piroux and Ruelle 2006), and the mean height 17/8.
double heightProbability(int height);
double meanHeight();

} // namespace ExactValues
