// Windows: the children are followed from the window's timer (their pipes and their ends).
#pragma once

// Reads what every child wrote, notices the ones that ended, starts the ones due.
void children_poll();
