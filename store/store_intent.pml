/*
 * Completing an interrupted removal (store/task_table.cpp, dlmgr.intent) as
 * a model for the Spin model checker: a host of this build removes the first
 * of three tasks and may die at any step; a host of an earlier build, which
 * keeps no intent, may then add a task; then the next host of this build
 * starts and completes (or drops) the change the intent describes, and runs
 * the thorough check that follows a repair (later duplicates removed).
 *
 * Checked: no task that was never deleted is lost or doubled, and the one
 * being deleted is there at most once.
 *
 * TODAY_INTENT: the intent is trusted alone, as before it noted the table it
 * began on.
 */

#define SLOTS 4
#define NONE 0
#define REMOVE 1

byte records[SLOTS];            /* task ids; the table holds 1, 2, 3 */
byte taskCount;
byte timeStamp;                 /* the header's counters, as one */

byte operation;                 /* the intent */
byte index;
byte intentCount;
byte progress;
byte intentStamp;
bool tied;

bool ready;
bool ended;                     /* the first host ended, at the end or at any step */
byte added;                     /* 1: the earlier build added task 4 */

active proctype FirstHost() {
    byte i;
    atomic {
        records[0] = 1; records[1] = 2; records[2] = 3;
        taskCount = 3;
        ready = true
    };
    {
        index = 0;
        progress = 0;
        intentCount = taskCount;         /* BeginChange notes the table */
        intentStamp = timeStamp;
        tied = true;
        operation = REMOVE;
        i = 0;
        do
        :: i + 1 < intentCount -> progress = i; records[i] = records[i + 1]; i++
        :: else -> break
        od;
        taskCount = intentCount - 1;
        timeStamp++;                     /* the change announced, once written */
        operation = NONE;
        ended = true
    } unless { ended }
}

/* Ends the first host at any step. */
active proctype Killer() {
end:
    atomic { ready && !ended -> ended = true }
}

active proctype NextHosts() {
    byte i, j, from;
    byte one, two, three, four;
    ended;
    /* an earlier build appends a task, keeping no intent */
    if
    :: taskCount < SLOTS -> timeStamp++; records[taskCount] = 4; taskCount++; added = 1
    :: skip
    fi;
    /* the next host of this build completes the interrupted change */
    if
    :: operation == REMOVE ->
#ifdef TODAY_INTENT
        if :: true ->
#else
        if
        :: tied && timeStamp == intentStamp &&
           (taskCount == intentCount || taskCount + 1 == intentCount) ->
#endif
            from = (progress > index -> progress : index);
            i = from;
            do
            :: i + 1 < intentCount -> records[i] = records[i + 1]; i++
            :: else -> break
            od;
            taskCount = intentCount - 1
        :: else -> skip      /* dropped: a table changed since */
        fi;
        operation = NONE
    :: else -> skip
    fi;
    /* the thorough check: of two records with one id the first stays */
    i = 0;
    do
    :: i < taskCount ->
        j = i + 1;
        do
        :: j < taskCount && records[j] == records[i] ->
            from = j;
            do
            :: from + 1 < taskCount -> records[from] = records[from + 1]; from++
            :: else -> break
            od;
            taskCount--
        :: j < taskCount && records[j] != records[i] -> j++
        :: else -> break
        od;
        i++
    :: else -> break
    od;
    /* tasks 2 and 3 were never deleted; 4 is there once when added */
    i = 0;
    do
    :: i < taskCount ->
        if
        :: records[i] == 1 -> one++
        :: records[i] == 2 -> two++
        :: records[i] == 3 -> three++
        :: records[i] == 4 -> four++
        :: else -> skip
        fi;
        i++
    :: else -> break
    od;
    assert(two == 1 && three == 1 && one <= 1);
    assert(four == added)
}
