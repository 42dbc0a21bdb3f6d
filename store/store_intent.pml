/*
 * Completing an interrupted change of the table (store/task_table.cpp,
 * dlmgr.intent) as a model for the Spin model checker. A host of this build
 * removes or updates the first of three tasks and may die at any step. A
 * host of a build that keeps no intent may then remove, update or append a
 * task, writing as this build does without an intent (records, then count,
 * then counters), and may die between any two writes. Then the next host of
 * this build completes (or drops) the change the intent describes and, when
 * it dropped it or took the store over from a dead holder, removes later
 * duplicates (the thorough check).
 *
 * A record is a task id and a version: the update of a host that died may be
 * there or not, a finished one must stay.
 *
 * Checked: no task that was never deleted is lost or doubled; one whose
 * deletion was under way is there at most once; an appended task is there
 * once as soon as its count is written; an update finished stays; an
 * overwrite is rolled forward onto its own task only; and a change cut short
 * on a table nobody wrote since is completed, not dropped.
 *
 * PEER: the first host is a 1.3.0 peer, whose intent notes counters and count
 * only: where this build keeps the checksum, its intent holds any bytes.
 * TODAY_COUNTERS: the fit check of 1.3.0, counters and count only.
 * TODAY_INTENT: the intent trusted alone, as before it noted its table.
 */

#define SLOTS 4
#define NONE 0
#define REMOVE 1
#define OVERWRITE 2
#define CHECKED 1                /* tied: written by this build */
#define OLD 2                    /* tied: written by 1.3.0 */
#define ID(r) ((r) & 7)
#define UPDATED 8                /* the version the host of an earlier build writes */
#define OURS 16                  /* the version this build's update writes */

byte records[SLOTS];             /* ids and versions; the table holds 1, 2, 3 */
byte taskCount;
byte timeStamp;                  /* the header's counters, as one */

byte operation;                  /* the intent */
byte index;
byte intentCount;
byte progress;
byte intentStamp;
byte tied;
byte record;                     /* overwrite: the new record */
byte moved[SLOTS];               /* removal: the records that move, in order (the checksum) */

bool ready;
bool removing;                   /* the first host's change is a removal */
bool ended;                      /* the first host ended, at the end or at any step */
bool whole;                      /* its change was whole: its counters moved */
bool earlierEnded;               /* the host of an earlier build ended */
bool wrote;                      /* it wrote to the table */
bool died;                       /* it died in the middle of its change */
byte deleting;                   /* the task it removed, finished or not */
byte updated;                    /* the task it updated, finished */
byte appended;                   /* 1: it wrote task 4's record; 2: and its count */

active proctype FirstHost() {
    byte i;
    atomic {
        records[0] = 1; records[1] = 2; records[2] = 3;
        taskCount = 3;
#ifdef PEER
        /* whatever the bytes held before: any that could match records */
        if :: moved[0] = 1 :: moved[0] = 2 :: moved[0] = 3 fi;
        if :: moved[1] = 1 :: moved[1] = 2 :: moved[1] = 3 fi;
#endif
        ready = true
    };
    {
        if
        :: /* RemoveTask(0); nothing before operation is set can be seen */
            d_step {
                removing = true;
                index = 0;
                progress = 0;
#ifdef PEER
                tied = OLD;
#else
                i = 0;
                do
                :: i + 1 < taskCount -> moved[i] = records[i + 1]; i++
                :: else -> break
                od;
                tied = CHECKED;
#endif
                intentCount = taskCount;
                intentStamp = timeStamp
            };
            operation = REMOVE;
            i = 0;
            do
            :: i + 1 < intentCount -> progress = i; records[i] = records[i + 1]; i++
            :: else -> break
            od;
            taskCount = intentCount - 1
        :: /* UpdateTask(0) */
            d_step {
                record = ID(records[0]) | OURS;
                index = 0;
#ifdef PEER
                tied = OLD;
#else
                tied = CHECKED;
#endif
                intentCount = taskCount;
                intentStamp = timeStamp
            };
            operation = OVERWRITE;
            records[0] = record
        fi;
        atomic { timeStamp++; whole = true };  /* the change announced, once written */
        operation = NONE;
        ended = true
    } unless { ended }
}

/* Ends the first host at any step. */
active proctype Killer() {
end:
    atomic { ready && !ended -> ended = true }
}

/* A host of an earlier build, which keeps no intent: one change to the task
 * a lookup finds (the first record with its id), or an append. */
active proctype EarlierHost() {
    byte i, j, count, target;
    ended;
    {
        if
        :: target = 1
        :: target = 2
        :: target = 3
        fi;
        d_step {
            j = 0;
            do
            :: j < taskCount && ID(records[j]) != target -> j++
            :: else -> break
            od
        };
        if
        :: j < taskCount ->   /* RemoveTask(j) */
            count = taskCount;
            i = j;
            do
            :: i + 1 < count -> atomic { records[i] = records[i + 1]; wrote = true; deleting = target }; i++
            :: else -> break
            od;
            atomic { taskCount = count - 1; wrote = true; deleting = target };
            timeStamp++
        :: j < taskCount ->   /* UpdateTask(j) */
            atomic { records[j] = target | UPDATED; wrote = true };
            atomic { timeStamp++; updated = target }
        :: taskCount < SLOTS ->   /* AddTask */
            atomic { records[taskCount] = 4; appended = 1; wrote = true };
            atomic { taskCount++; appended = 2 };
            timeStamp++
        :: skip
        fi;
        earlierEnded = true
    } unless { earlierEnded }
}

/* Ends the host of an earlier build at any step. */
active proctype EarlierKiller() {
end:
    atomic { ended && !earlierEnded -> earlierEnded = true; died = true }
}

active proctype NextHost() {
    byte i, k, from, half, last;
    byte one, two, three, four;
    bool fits, dropped, thorough;
    earlierEnded;
    /* completes the interrupted change, if the table still holds its records */
    if
    :: operation != NONE ->
        from = (progress > index -> progress : index);
#if defined(TODAY_INTENT)
        fits = true;
#elif defined(TODAY_COUNTERS)
        fits = timeStamp == intentStamp &&
               (taskCount == intentCount || operation == REMOVE && taskCount + 1 == intentCount);
#else
        fits = tied == CHECKED;
        fits = fits && timeStamp == intentStamp;
        if
        :: operation == OVERWRITE ->
            fits = fits && ID(records[index]) == ID(record)
        :: else ->
            fits = fits && (taskCount == intentCount || taskCount + 1 == intentCount);
            /* the records that moved: index .. half - 1, then half + 1 .. last - 1
             * (slot half may be half copied) */
            half = from;
            last = intentCount;
            i = index;
            k = 0;
            do
            :: i < last && i == half -> i++
            :: i < last && i != half -> fits = fits && records[i] == moved[k]; k++; i++
            :: else -> break
            od
        fi;
#endif
        if
        :: fits && operation == REMOVE ->
            i = from;
            do
            :: i + 1 < intentCount -> records[i] = records[i + 1]; i++
            :: else -> break
            od;
            taskCount = intentCount - 1;
            operation = NONE
        :: fits && operation == OVERWRITE ->
            assert(ID(records[index]) == ID(record));
            records[index] = record;
            operation = NONE
        :: else -> dropped = true; operation = NONE
        fi
    :: else -> skip
    fi;
    /* the thorough check: after a drop, after a takeover from a dead holder,
     * and perhaps when the earlier build's host let the store go */
    if
    :: thorough = true
    :: !dropped && !died -> skip
    fi;
    i = 0;
    do
    :: thorough && i < taskCount ->
        k = i + 1;
        do
        :: k < taskCount && ID(records[k]) == ID(records[i]) ->
            from = k;
            do
            :: from + 1 < taskCount -> records[from] = records[from + 1]; from++
            :: else -> break
            od;
            taskCount--
        :: k < taskCount && ID(records[k]) != ID(records[i]) -> k++
        :: else -> break
        od;
        i++
    :: else -> break
    od;
    i = 0;
    do
    :: i < taskCount ->
        if
        :: ID(records[i]) == 1 -> one++
        :: ID(records[i]) == 2 -> two++
        :: ID(records[i]) == 3 -> three++
        :: ID(records[i]) == 4 -> four++
        :: else -> skip
        fi;
        assert(ID(records[i]) != updated || records[i] & UPDATED);
        i++
    :: else -> break
    od;
    /* task 1 may be being removed by this build; any by the earlier one */
    assert(one <= 1 && two <= 1 && three <= 1);
    assert(one == 1 || removing || deleting == 1);
    assert(two == 1 || deleting == 2);
    assert(three == 1 || deleting == 3);
    assert(four == 1 || four == 0 && appended < 2);
    assert(!dropped || wrote || whole || tied != CHECKED)
}
