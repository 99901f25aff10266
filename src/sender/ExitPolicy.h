#pragma once

// How a run ends, as a CI job reads it:
//   0   every record sent was answered as expected and every threshold met;
//   1   a record failed, a threshold was missed, or nothing was sent;
//   2   the command line's fault: a file that could not be opened, a
//       manifest that does not fit its data, a report asked for and not
//       written whole (a cut report must never read as a pass);
//   3   no connection to the server ever came up;
//   128 + N  ended by signal N, or 141 once standard output's reader has
//       gone (SIGPIPE).
struct ExitFacts
{
    int countsStatus = 0; // 0, 1 or 3, from what became of the records
    bool openFailed = false;
    bool misfit = false;
    bool thresholdMissed = false;
    int interruptedBy = 0; // the signal's number
    bool reportsFailed = false;
    bool summaryLost = false; // the summary could not be written
};

int exitStatus(const ExitFacts &facts);
