/*
 * The Optex protocol as sync/optex.cpp runs it, step for step, for the Spin
 * model checker (tests/check_spin_model.cmake runs it in the configurations
 * tests/CMakeLists.txt lists; the README says how).
 *
 * One step of the model is one access to shared memory or one kernel call:
 * the 16-byte block (lockCount, ownerThreadId, recursionCount), the wake-up
 * event, the thread records beside it, the recovery mutex, a life mutex, a
 * handle count. The census a recoverer takes reads one record, or asks the
 * kernel about one thread, per step, as the code does; so does the pass that
 * reuses dead threads' records when the table is full. Threads of this build
 * (up to three) follow Enter, TryEnter and Leave; a thread of an earlier
 * build follows the lock as it was, with no record, and may be given the id
 * of a thread that ended (LEGACY_NAMESAKE); thread 0 may hold its outer
 * level through a copy of an earlier build in its own process
 * (RECORDLESS_COPY); threads 0 and 1 may be one process (SHARED_PROCESS). The
 * killer ends any thread of this build at any step, alone or with its
 * process, at most DEATHS times; with REUSE, an ended thread's id is given to
 * the next thread at once, which starts with no record, as a new thread (or,
 * with STRANGER, never uses the lock). The TODAY_*
 * switches play the rules the protocol had before (each with a
 * configuration that finds its fault).
 *
 * What is abstracted: time. A wait on the event (or on the owner's life with
 * it) returns when one is set and otherwise times out; the second-long quiet
 * a waiter wants before claiming a lock nobody owns, and the freshness of a
 * waiter's record, are left out, so claims and judgements may come at any
 * moment, which only makes the check harder to pass. The recovery mutex kept
 * for a second, after which a recovery goes on without it, is a mutex found
 * busy at any moment; one kept for good (FOREIGN 2, or by a thread held up)
 * is always found kept in the end. Spinning is one compare-exchange. Another
 * program may keep the recovery mutex (FOREIGN) or a dead thread's life
 * (FOREIGN_LIFE), and a thread of ours may be held up for good wherever it
 * neither owns the lock nor is taking it (STOP): none of them may keep the
 * others waiting.
 *
 * Checked at every step (the monitor): never two live threads that believe
 * they own; a live thread that believes it owns is the one the owner field
 * names; lockCount is the levels of live threads plus what the dead left;
 * and what the dead left is at most possiblePhantoms plus what dead threads'
 * records may hold (plus, for threads that kept no record, what they held
 * when they died): the design's own claim. Checked where it happens: a
 * withdrawal takes only levels dead threads left, and an Enter returns with
 * the owner field naming the thread and recursionCount its levels. In live
 * mode: no cycle in which no thread makes progress (weak fairness). And once
 * every thread is done, the next thread that takes and leaves the lock
 * leaves lockCount at 0 and the owner field clear.
 *
 * The state names are those of OptexSlotState (sync/optex_side.h), with the
 * same values; a test compares them. sync/optex.mutations lists mistakes a
 * developer could make, each of which some configuration must find.
 */

#ifndef THREADS
#define THREADS 2      /* threads of this build (at most 3) */
#endif
#ifndef SLOTS
#define SLOTS 2        /* thread records: fewer than threads leaves one without */
#endif
#ifndef DEATHS
#define DEATHS 1
#endif
#ifndef ROUNDS
#define ROUNDS 1       /* rounds of Enter or TryEnter, a nested level or not, Leave */
#endif
#ifndef LEGACY
#define LEGACY 0       /* 1: a thread of an earlier build shares the lock */
#endif
#ifndef LEGACY_NAMESAKE
#define LEGACY_NAMESAKE 0  /* 1: that thread starts once thread 0 has ended, with its id */
#endif
#ifndef NESTED
#define NESTED 1       /* thread 0 may take a nested level, through the other copy of the module */
#endif
#ifndef TRY
#define TRY 1          /* thread 1 may TryEnter instead of Enter */
#endif
#ifndef THIRD_TRIES
#define THIRD_TRIES 0  /* 1: thread 2 only ever TryEnters (a third thread that never waits) */
#endif
#ifndef VICTIMS
#define VICTIMS THREADS  /* threads 0 .. VICTIMS - 1 may be ended */
#endif
#ifndef REUSE
#define REUSE 1        /* the id of an ended thread is given to a new thread at once */
#endif
#ifndef KILL_UNRECORDED
#define KILL_UNRECORDED 0  /* 1: a thread without a record may end while its process lives */
#endif
#ifndef RECORDLESS_COPY
#define RECORDLESS_COPY 0  /* 1: thread 0 holds an outer level through a copy of an earlier build in its process */
#endif
#ifndef SHARED_PROCESS
#define SHARED_PROCESS 0   /* 1: threads 0 and 1 are one process, which may end as one */
#endif
#ifndef LINGER
#define LINGER 0       /* 1: the last thread of this build, done, lives on idle until the others are done */
#endif
#ifndef STRANGER
#define STRANGER 0     /* 1: the thread given an ended thread's id never uses the lock, and lives until the others are done */
#endif

#ifndef FOREIGN
#define FOREIGN 0      /* another program takes the recovery mutex: 1, and keeps it as long as it likes; 2, for good */
#endif
#ifndef FOREIGN_LIFE
#define FOREIGN_LIFE 0 /* 1: another program waits on a life mutex, gets it when its thread ends, and keeps it */
#endif
#ifndef STOP
#define STOP 0         /* 1: a thread of this build that neither owns the lock nor is taking it may stop for
                          good (suspended by a debugger, or starved); 2: thread 1 only */
#endif
#ifndef DEAD_CLAIMER
#define DEAD_CLAIMER 0 /* 1: the lock starts as a waiter left it that died claiming it, its wake-up still pending */
#endif
#ifndef LEGACY_LATE
#define LEGACY_LATE 0  /* 1: the earlier build's thread (an id of its own) opens the lock at any moment */
#endif
#ifndef DEAD_GUEST
#define DEAD_GUEST 0   /* the lock starts held by two dead threads of one id, an owner and a guest that noted the level below
                          its own: 1, both owning; 2, the owner still Claiming (by the fast path), the guest before its increment */
#endif
#ifndef DEAD_NAMESAKE
#define DEAD_NAMESAKE 0 /* 1: the lock starts held by a dead thread whose id thread 0 was given */
#endif
#ifndef STRAY_WAKEUP
#define STRAY_WAKEUP 0 /* 1: the wake-up event starts set, by another program that opened it by its name */
#endif
#ifndef OWNERS_DIE
#define OWNERS_DIE 0   /* 1: only a thread the owner field names may end (a narrower search, which reaches deeper) */
#endif

/* states: begin */
#define kSlotUnclaimed 0
#define kSlotIdle 1
#define kSlotSpinning 2
#define kSlotClaiming 3
#define kSlotOwning 4
#define kSlotReentering 5
#define kSlotLeaving 6
#define kSlotReleasing 7
#define kSlotSignalling 8
#define kSlotAnnouncing 9
#define kSlotWaiting 10
#define kSlotTakingOver 11
/* states: end */

#define NONE 255
#define TAKEN_OVER 254                 /* the id of a record a takeover noted: no thread has it */
#define NOSLOT (SLOTS + 1)             /* TLS value of a thread without a record and without levels */
#define JANITOR THREADS                /* the thread that comes after all the others */
#define LEGACY_T (THREADS + 1)         /* the earlier build's thread */
#define ALL (THREADS + 2)
#define FOREIGN_HOLD 250               /* recoveryMutex while the other program keeps it */
#define LIVES (THREADS + DEATHS + 2)   /* life 0: none */

#define OWNED 0
#define BUSY 1
#define COUNTED 2

#define MayOwn(s) (s == kSlotClaiming || s == kSlotOwning || s == kSlotReentering || \
                   s == kSlotLeaving || s == kSlotReleasing || s == kSlotWaiting || s == kSlotTakingOver)
#define SurelyOwned(s) (s == kSlotOwning || s == kSlotReentering || s == kSlotLeaving)
/* A live thread in one of these has a step to make that changes lockCount,
   the owner field or the event (one TakingOver only changes the field from
   a dead owner's id: a census counts it as a waiter). */
#define MidStep(s) (s != kSlotUnclaimed && s != kSlotIdle && s != kSlotWaiting && s != kSlotTakingOver)
/* A dead thread's record in one of these holds no level for sure. */
#define ReusableWhenDead(s) (s == kSlotIdle || s == kSlotUnclaimed || s == kSlotSpinning || \
                             s == kSlotAnnouncing || s == kSlotReleasing || s == kSlotSignalling)
#define InUse(id, s) (id != 0 && s != kSlotUnclaimed && s != kSlotIdle)

/* ---- shared memory and kernel objects ---- */
byte lockCount;
byte ownerThreadId;
byte recursionCount;
bit wakeEvent;                   /* auto-reset */

typedef Record {
    byte threadId;
    byte life;                   /* the thread's life mutex */
    byte created;                /* its creation time (judged by ids: TODAY_IDS) */
    byte state;
    byte heldLevels;
};
Record rec[SLOTS];
byte possiblePhantoms;
byte recoveryMutex;              /* holder + 1; 0: free or abandoned */
bool lifeOwned[LIVES];           /* the life mutex is owned by its thread, alive */
byte lifeHeld[LIVES];            /* once its thread ended: held by another (holder + 1, FOREIGN_HOLD), or 0 */
/* The epoch each claim of a lock nobody owns moves, as each waiter sees it:
   moved since its wait began (a flag per thread, not the code's counter,
   which never comes back to a value within one wait). */
bool epochMoved[ALL];
byte nextLife = 1;
/* Handles of the shared block held without one of the recovery mutex: a
   process of an earlier build, a copy of one, a thread of ours with no
   record while it holds or takes levels (its marker). */
byte markers;

/* ---- threads: t is a place a thread runs in ---- */
byte tid[ALL];                   /* the id of the thread in that place */
byte incarnation[ALL];
byte life[ALL];
byte created[ALL];
bool running[ALL];
bool marking[ALL];
bool busy[ALL];                  /* inside Enter, TryEnter or Leave */
bool stopped[ALL];               /* stopped for good (STOP) */
byte stops;
bool stoppedOnce;               /* a thread was held up: what it holds may outlast the janitor */
bool legacyCopy[ALL];            /* its process holds the block through a copy of an earlier build */
byte deaths;
byte done;

/* ---- what threads believe, for the checks ---- */
byte levels[ALL];                /* levels of lockCount this thread counts as its own */
byte plainLevels[ALL];           /* of which taken through an earlier build's copy */
bool recordless[ALL];            /* it found no record: its levels are known to no record */
bool believesOwner[ALL];
byte holders;                    /* live threads that believe they own */
byte deadLevels;                 /* levels dead threads left in lockCount */
byte unrecorded;                 /* of which left by threads that held them with no record */
bool unaccountable;              /* a thread without a record ended with its process alive */
bool inherited;                  /* a thread took a dead namesake's hold for its own, on its id */
byte inheritedLevels[ALL];       /* the levels of recursionCount it found there */
bool inRelease[ALL];             /* between clearing the owner field and its wake-up sent */
/* A waiter between its look-up of the dead owner's id and its compare-exchange
   of the owner field. A thread of an earlier build given that id there takes
   the owner's hold on its id alone, unseen, as the waiter takes it over: no
   look can close that window, so the namesake starts outside it. */
bool takingOver;

#define ME (tid[t])
/* Every thread with the lock open keeps a record, but for the asking thread
   t itself: handle counts show a process of an earlier build, or a marker. */
#define OnlyRecordingPeers() (markers == marking[t])

#ifdef TODAY_IDS
/* Today: dead unless a running thread has the record's id and creation time. */
#define IsDead(r) (!((running[0] && tid[0] == rec[r].threadId && created[0] == rec[r].created) || \
                     (running[1] && tid[1] == rec[r].threadId && created[1] == rec[r].created) || \
                     (running[2] && tid[2] == rec[r].threadId && created[2] == rec[r].created)))
#else
/* The life mutex: abandoned, or gone, once its thread has ended. */
#define IsDead(r) (!lifeOwned[rec[r].life])
#endif

#ifdef TODAY_HOLD_LIFE
/* Today: a thread whose life's mutex another holds is taken for alive. */
#define SeenDead(r) (IsDead(r) && (lifeHeld[rec[r].life] == 0 || lifeHeld[rec[r].life] == t + 1))
#else
/* A life's mutex held by another proves nothing: the thread's identity,
   which nobody else can hold, decides. */
#define SeenDead(r) IsDead(r)
#endif

/* Whether a thread with that id runs (the kernel's look-up by id). */
#define Runs(x) (x != 0 && ((running[0] && tid[0] == x) || (running[1] && tid[1] == x) || \
                            (ALL > 2 && running[2] && tid[2] == x) || \
                            (ALL > 3 && running[3] && tid[3] == x) || \
                            (ALL > 4 && running[4] && tid[4] == x)))

/* ---- the design's claims, at every step ---- */
/* At most what a dead thread's record may hold (OwnerShare, OtherShare):
   the owner field names it unless a live thread of that id holds the lock. */
#define Believed(v, x) (running[v] && believesOwner[v] && tid[v] == x)
#define OwnerBelieved (Believed(0, ownerThreadId) || Believed(1, ownerThreadId) || \
                       (ALL > 2 && Believed(2, ownerThreadId)) || (ALL > 3 && Believed(3, ownerThreadId)) || \
                       (ALL > 4 && Believed(4, ownerThreadId)))
#define StandsFor(k, r) (k != r && rec[k].threadId == rec[r].threadId && IsDead(k) && MayOwn(rec[k].state) && \
                        SurelyOwned(rec[k].state) && !SurelyOwned(rec[r].state))
#define Outranked(r) (StandsFor(0, r) || (SLOTS > 1 && StandsFor(1, r)) || (SLOTS > 2 && StandsFor(2, r)))
#define NamedDead(r) (rec[r].threadId == ownerThreadId && MayOwn(rec[r].state) && !OwnerBelieved && !Outranked(r))
#define MostOf(r) (rec[r].threadId == 0 || !IsDead(r) -> 0 : \
                   (NamedDead(r) -> \
                      ((rec[r].state == kSlotReentering || rec[r].state == kSlotLeaving) -> recursionCount + 1 : \
                       (rec[r].state == kSlotOwning -> (recursionCount > 0 -> recursionCount : 1) : \
                        (rec[r].state == kSlotTakingOver -> rec[r].heldLevels + 1 : 1))) : \
                      ((rec[r].state == kSlotWaiting || rec[r].state == kSlotClaiming || \
                        rec[r].state == kSlotTakingOver) -> 1 : \
                       (SurelyOwned(rec[r].state) -> rec[r].heldLevels : \
                        ((rec[r].state == kSlotSpinning || rec[r].state == kSlotAnnouncing || \
                          rec[r].state == kSlotReleasing) -> 1 : 0)))))
#define DeadRecordsMost (MostOf(0) + (SLOTS > 1 -> MostOf(1) : 0) + (SLOTS > 2 -> MostOf(2) : 0))
/* What a live thread that has won a dead owner's hold noted of it, in its
   own record, until it has withdrawn it. */
#define NoteOf(r) (rec[r].threadId == ownerThreadId && rec[r].state == kSlotTakingOver && !IsDead(r) -> \
                   rec[r].heldLevels : 0)
#define LiveNotes (NoteOf(0) + (SLOTS > 1 -> NoteOf(1) : 0) + (SLOTS > 2 -> NoteOf(2) : 0))
#define BelievesRightly(v) (!running[v] || !believesOwner[v] || ownerThreadId == tid[v])
#define LiveLevels(v) (running[v] -> levels[v] : 0)
#define Accounted (lockCount == LiveLevels(0) + LiveLevels(1) + (ALL > 2 -> LiveLevels(2) : 0) + \
                   (ALL > 3 -> LiveLevels(3) : 0) + (ALL > 4 -> LiveLevels(4) : 0) + deadLevels)
/* A marker is up only while its thread takes, holds or gives back levels:
   an idle thread never keeps others from recovering. */
#define MarkerInUse(v) (!marking[v] || busy[v] || levels[v] > 0)
#define OneOwner (holders <= 1 && BelievesRightly(0) && BelievesRightly(1) && \
                  (ALL <= 2 || BelievesRightly(2)) && (ALL <= 3 || BelievesRightly(3)) && \
                  (ALL <= 4 || BelievesRightly(4)))
#define MarkersInUse (MarkerInUse(0) && MarkerInUse(1) && (ALL <= 2 || MarkerInUse(2)))
#define DeadAccounted (inherited || deadLevels <= possiblePhantoms + DeadRecordsMost + LiveNotes + unrecorded)
#define Claims (OneOwner && Accounted && DeadAccounted && MarkersInUse)

/* Checks the claims in every state: it waits, as a step of its own, for one
   to fail. */
active proctype Monitor() {
end:
    atomic { !Claims -> assert(OneOwner); assert(Accounted); assert(DeadAccounted); assert(MarkersInUse) }
}

/* The owner's levels are recursionCount, but for a hold an earlier build's
   copy took on its id alone over a dead namesake's, which it inherits. */
#define LevelsMatch(t) (recursionCount == levels[t] + inheritedLevels[t])

inline Own(t) {
    assert(!believesOwner[t]);   /* never takes a lock it believes it holds */
    believesOwner[t] = true;
    holders++;
    assert(holders == 1)
}

inline Disown(t) {
    believesOwner[t] = false;
    holders--
}

inline Withdraw(n) {
    d_step {
        assert((n) <= deadLevels);  /* only what dead threads left */
        lockCount = lockCount - (n);
        deadLevels = deadLevels - (n)
    }
}

inline TryRecovery(t, got) {
    atomic {
        if
        :: recoveryMutex == 0 -> recoveryMutex = t + 1; got = true
        :: else -> got = false
        fi
    }
}

inline LeaveRecovery() { recoveryMutex = 0 }

/* A recovery takes the mutex, or, once another keeps it (for a second in the
   code; at any moment here), goes on without it (hold false). One kept for
   good (a thread held up, another program) is always found kept in the end. */
#define KeptForGood (recoveryMutex == FOREIGN_HOLD && FOREIGN == 2 || \
                     recoveryMutex > 0 && recoveryMutex <= ALL && stopped[recoveryMutex - 1])
inline TryRecoveryOrGoOn(t, got, hold) {
    atomic {
        if
        :: recoveryMutex == 0 -> recoveryMutex = t + 1; got = true; hold = true
#ifdef TODAY_MUTEX_NEEDED
        :: recoveryMutex != 0 -> got = false; hold = false
#else
        :: recoveryMutex != 0 && !KeptForGood -> got = false; hold = false
        :: recoveryMutex != 0 -> got = true; hold = false
#endif
        fi
    }
}

/* The marker is one handle, opened or closed in one call. */
inline Mark(t) {
    d_step {
        if
        :: !marking[t] -> marking[t] = true; markers++
        :: else -> skip
        fi
    }
}

inline Unmark(t) {
    d_step {
        if
        :: marking[t] -> marking[t] = false; markers--
        :: else -> skip
        fi
    }
}

/* Levels a dead thread's record in state st (heldLevels hl) surely holds,
   and may hold, into sure and most; isOwner when the owner field names it. */
inline Share(st, isOwner) {
    if
    :: isOwner && st == kSlotTakingOver -> sure = hl + 1; most = sure   /* its announcement and its note */
    :: isOwner && (st == kSlotReentering || st == kSlotLeaving) ->
        sure = (recursionCount > 0 -> recursionCount : 1); most = sure + 1
    :: isOwner && st == kSlotOwning -> sure = (recursionCount > 0 -> recursionCount : 1); most = sure
    :: isOwner && !SurelyOwned(st) && st != kSlotTakingOver -> sure = 1; most = 1
    :: !isOwner && (st == kSlotWaiting || st == kSlotClaiming || st == kSlotTakingOver) -> sure = 1; most = 1
    :: !isOwner && SurelyOwned(st) -> sure = hl; most = hl
    :: !isOwner && (st == kSlotSpinning || st == kSlotAnnouncing || st == kSlotReleasing) ->
        sure = 0; most = 1
    :: !isOwner && (st == kSlotIdle || st == kSlotSignalling || st == kSlotUnclaimed) ->
        sure = 0; most = 0
    fi
}

/* The census, under the recovery mutex (TakeCensus): the first look reads
   each record other than the taker's (one step) and asks the kernel whether
   the thread of one in use has ended (one step), and reads the record of a
   dead one again (it may have moved on before it died); then the 16-byte
   block is read; the second look reads each state again. A thread proven
   dead at the first look can make no step after the block is read, so what
   it left is in the count read. (The code takes a waiter that renewed its record lately
   for alive without asking: that only leaves its level to a later census.) */
inline FirstLook(slot) {
    i = 0;
    do
    :: i < SLOTS ->
        if
        :: i == slot -> skip
        :: else ->
            d_step { seenId[i] = rec[i].threadId; seen[i] = rec[i].state };
#ifndef TODAY_LATE_JUDGE
            if
            :: InUse(seenId[i], seen[i]) ->
                deadAt[i] = SeenDead(i);
                if
                :: deadAt[i] -> seen[i] = rec[i].state   /* the state it died in */
                :: else -> skip
                fi
            :: else -> skip
            fi
#endif
        fi;
        i++
    :: else -> break
    od;
    i = 0
}

/* The second look: whether every record reads as it did. */
inline SecondLook(slot) {
    i = 0;
    do
    :: i < SLOTS ->
        if
        :: i != slot && (rec[i].state != seen[i] || rec[i].threadId != seenId[i]) -> snapshot = false
        :: else -> skip
        fi;
        i++
    :: else -> break
    od;
    i = 0
}

#ifdef TODAY_LATE_JUDGE
/* Today: the kernel is asked only after the block was read. */
inline LateJudge(slot) {
    i = 0;
    do
    :: i < SLOTS ->
        if
        :: i != slot && InUse(seenId[i], seen[i]) -> deadAt[i] = SeenDead(i)
        :: else -> skip
        fi;
        i++
    :: else -> break
    od;
    i = 0
}
#define LATE_JUDGE(slot) LateJudge(slot)
#else
#define LATE_JUDGE(slot) skip
#endif

inline ForgetLooks() {
    d_step {
        i = 0;
        do
        :: i < SLOTS -> seen[i] = 0; seenId[i] = 0; deadAt[i] = false; i++
        :: else -> break
        od;
        i = 0; snapshot = false
    }
}

/* Of two dead records of the owner's id, the one that stands for it: one that
   surely owned. */
#define Preferred(j, k) (SurelyOwned(seen[j]) && !SurelyOwned(seen[k]))

/* Judges the owner field's id from the first look (Judge): alive while a
   live record of that id may own; otherwise gone, deadRec the dead record
   that stands for it (Preferred), namesake when a
   thread with that id runs (the kernel's look-up), which can own only if it
   keeps no record. */
inline JudgeSeen(owner, slot) {
    d_step {
        gone = (owner != 0);
        deadRec = NONE;
        j = 0;
        do
        :: j < SLOTS ->
            if
            :: j != slot && seenId[j] == owner && owner != 0 && MayOwn(seen[j]) && !deadAt[j] -> gone = false
            :: j != slot && seenId[j] == owner && owner != 0 && MayOwn(seen[j]) && deadAt[j] &&
               (deadRec == NONE || Preferred(j, deadRec)) -> deadRec = j
            :: else -> skip
            fi;
            j++
        :: else -> break
        od;
        j = 0
    };
    namesake = (owner == ME || Runs(owner));
#ifdef TODAY_SELF
    /* Today: our own id while we wait is gone whatever else holds the block. */
    namesake = namesake && owner != ME;
#endif
#ifdef TODAY_JUDGE
    /* Today: with no dead record of that id, a thread running with it owns. */
    gone = gone && (deadRec != NONE || owner == ME || !Runs(owner));
#endif
    if :: !gone -> deadRec = NONE :: else -> skip fi
}

/* Whether a judgement of gone is sure enough to take the lock on. */
#define ActsOn() (gone && (!namesake || OnlyRecordingPeers()))

/* The records the census found dead are freed, one by one in the code: the
   levels they hold are counted in possiblePhantoms first, so a death between
   two is like one after the last. */
inline FreeDeadRecords(slot) {
    i = 0;
    do
    :: i < SLOTS ->
        if
        :: i != slot && deadAt[i] && InUse(seenId[i], seen[i]) ->
            rec[i].state = kSlotUnclaimed;
            rec[i].threadId = 0
        :: else -> skip
        fi;
        i++
    :: else -> break
    od;
    i = 0
}

/* Settle, by the owner, under the recovery mutex: what dead threads left is
   withdrawn, exactly when the census shows every live thread's share (no
   record changed across the read of lockCount, no live thread between two
   steps, every peer keeping records), otherwise only what they surely
   hold. While the lock is owned, lockCount only moves by steps that live
   threads bracket with a state that says so. */
inline Settle(t, slot) {
    exact = OnlyRecordingPeers();
    FirstLook(slot);
    d_step { c = lockCount; unrecordedSeen = unrecorded };   /* the read, and its ghost */
    live = recursionCount;
    snapshot = true;
    SecondLook(slot);
    LATE_JUDGE(slot);
    d_step {
        i = 0;
        do
        :: i < SLOTS ->
            if
            :: i == slot || !InUse(seenId[i], seen[i]) -> skip
            :: deadAt[i] ->
                st = seen[i]; hl = rec[i].heldLevels;
                Share(st, false);
                deadSure = deadSure + sure;
                deadMost = deadMost + most
            :: else ->
                if
                :: !MidStep(seen[i]) -> live++
                :: else -> exact = false
                fi
            fi;
            st = 0; hl = 0; sure = 0; most = 0;
            i++
        :: else -> break
        od;
        i = 0;
        exact = exact && snapshot
    };
    /* Peers that keep no record looked for before and after: one that held
       a level between the two looks is seen in one of them (a releaser that
       keeps none may give its level back after we took the owner field its
       release cleared). */
    exact = exact && OnlyRecordingPeers();
#ifdef TODAY_CLAIM
    /* Today: records first, then what is sure; the rest only counted. */
    FreeDeadRecords(slot);
    Withdraw(deadSure);
    possiblePhantoms = possiblePhantoms + deadMost - deadSure;
#else
    if
    :: exact ->
        possiblePhantoms = possiblePhantoms + c - live;
        FreeDeadRecords(slot);
        Withdraw(c - live);
        /* a thread with no record that died after the read left its
           level to a later settlement */
        d_step { possiblePhantoms = 0; unrecorded = unrecorded - unrecordedSeen }
    :: else ->
        possiblePhantoms = possiblePhantoms + deadMost;
        FreeDeadRecords(slot);
        Withdraw(deadSure);
        possiblePhantoms = possiblePhantoms - deadSure
    fi;
#endif
    ForgetLooks();
    d_step { c = 0; live = 0; deadSure = 0; deadMost = 0; exact = false; unrecordedSeen = 0 }
}

/* Whether the thread the owner field names is gone for sure, at a look
   outside the mutex (JudgeOwner): a hint, acted on only after the census
   under the mutex says so too. */
inline LookAtOwner(t, slot, owner) {
    d_step {
        j = 0;
        do
        :: j < SLOTS ->
            if
            :: j != slot -> seenId[j] = rec[j].threadId; seen[j] = rec[j].state;
                            deadAt[j] = (InUse(seenId[j], seen[j]) && SeenDead(j))
            :: else -> skip
            fi;
            j++
        :: else -> break
        od;
        j = 0
    };
    JudgeSeen(owner, slot);
    ForgetLooks()
}

inline HeldBy(t, slot) {
    recursionCount = 1;
    if
    :: slot != NONE -> rec[slot].state = kSlotOwning
    :: else -> skip
    fi
}

inline ClaimOwnerField(t, slot, got) {
    atomic {
        if
        :: ownerThreadId == 0 -> ownerThreadId = ME; Own(t); got = true
        :: else -> got = false
        fi
    };
    if
    :: got -> HeldBy(t, slot)
    :: else -> skip
    fi
}

inline SetState(slot, s) {
    if
    :: slot != NONE -> rec[slot].state = s
    :: else -> skip
    fi
}

/* A record for the thread (ClaimSlot), under the recovery mutex: the first
   free one, or, when all are taken, the first of those whose thread is
   proven dead and surely holds no level; what it may hold is counted first.
   The kernel is asked first: a dead thread's record no longer changes. */
inline ClaimSlot(t) {
    TryRecovery(t, got);
    if
    :: got ->
        d_step {
            slot = NONE;
#ifdef TODAY_COPIES
            /* Today: this thread's record made through another copy, by identity. */
            i = 0;
            do
            :: i < SLOTS ->
                if
                :: slot == NONE && rec[i].threadId == ME && rec[i].created == created[t] &&
                   rec[i].state != kSlotUnclaimed -> slot = i
                :: else -> skip
                fi;
                i++
            :: else -> break
            od;
#endif
            i = 0;
            do
            :: i < SLOTS ->
                if
                :: slot == NONE && rec[i].threadId == 0 -> slot = i
                :: else -> skip
                fi;
                i++
            :: else -> break
            od;
            i = 0
        };
        if
        :: slot == NONE ->
            i = 0;
            do
            :: i < SLOTS ->
#ifdef TODAY_REAP_ORDER
                /* Today: the record read before the kernel is asked. */
                st = rec[i].state;
                gone = (rec[i].threadId != 0 && SeenDead(i));
#else
                gone = (rec[i].threadId != 0 && SeenDead(i));
                if :: gone -> st = rec[i].state :: else -> skip fi;
#endif
                if
                :: gone && ReusableWhenDead(st) ->
                    hl = rec[i].heldLevels;
                    Share(st, false);
#ifndef TODAY_REAP
                    possiblePhantoms = possiblePhantoms + most;   /* counted before the record goes */
#endif
                    rec[i].state = kSlotUnclaimed;
                    rec[i].threadId = 0;
                    if :: slot == NONE -> slot = i :: else -> skip fi
                :: else -> skip
                fi;
                d_step { st = 0; hl = 0; sure = 0; most = 0; gone = false };
                i++
            :: else -> break
            od;
            i = 0
        :: else -> skip
        fi;
        if
        :: slot != NONE && rec[slot].threadId == 0 ->
            d_step {
                rec[slot].threadId = ME;
                rec[slot].life = life[t];
                rec[slot].created = created[t];
                rec[slot].heldLevels = 0
            };
            rec[slot].state = kSlotIdle
        :: else -> skip
        fi;
        LeaveRecovery()
    :: else -> slot = NONE
    fi;
    if
    :: slot == NONE -> tls = NOSLOT; Mark(t); recordless[t] = true
    :: else -> tls = slot + 1; Unmark(t); recordless[t] = false
    fi
}

/* TLS of the copy of the module the call goes through: one, shared by every
   copy in a process (today: one per copy). */
#ifdef TODAY_COPIES
#define TLS tlsOf[copy]
#else
#define TLS tlsOf[0]
#endif

inline SlotForEnter(t) {
    tls = TLS;
    if
    :: tls >= NOSLOT -> slot = NONE; Mark(t)   /* no record: the marker goes up before any step */
    :: tls != 0 && tls < NOSLOT -> slot = tls - 1
    :: tls == 0 -> ClaimSlot(t); TLS = tls
    fi
}

inline Reenter(t, slot) {
    SetState(slot, kSlotReentering);
    d_step { lockCount++; levels[t]++ };
    recursionCount++;
    SetState(slot, kSlotOwning)
}

inline TryEnterAs(t, slot, attempt) {
    owner = ownerThreadId;
    if
    :: owner == ME &&
       ((slot != NONE && rec[slot].state == kSlotOwning) || (slot == NONE && tls > NOSLOT)) ->
        Reenter(t, slot);
        attempt = OWNED
#ifndef TODAY_SELF
    :: owner == ME && !((slot != NONE && rec[slot].state == kSlotOwning) || (slot == NONE && tls > NOSLOT)) &&
       !OnlyRecordingPeers() ->
        /* Our id, held through a copy that keeps no record (ours, or a dead
           namesake's an earlier build would take for its own): a level on
           it, the levels below ours noted. Under the recovery mutex, which a
           takeover of a dead namesake's hold also holds. (Should another
           program keep the mutex, the code goes on after a second: no
           takeover can happen then either.) */
        atomic { recoveryMutex == 0 -> recoveryMutex = t + 1 };
        if
        :: ownerThreadId == ME ->
            if
            :: slot != NONE -> rec[slot].heldLevels = recursionCount
            :: else -> skip
            fi;
            d_step {   /* a dead namesake's hold becomes ours */
                if :: !believesOwner[t] -> Own(t); inheritedLevels[t] = recursionCount; inherited = true :: else -> skip fi
            };
            Reenter(t, slot);
            attempt = OWNED
        :: else -> attempt = BUSY   /* taken over meanwhile */
        fi;
        LeaveRecovery()   /* after the guest's level */
#endif
    :: else ->
        SetState(slot, kSlotSpinning);   /* 0 levels, or 1 once the compare-exchange succeeds */
        atomic {
            if
            :: lockCount == 0 -> lockCount = 1; levels[t]++; got = true
            :: else -> got = false
            fi
        };
        if
        :: got ->
            SetState(slot, kSlotClaiming);   /* counted: not a waiter, which was woken for its claim */
            ClaimOwnerField(t, slot, got);
            if :: got -> attempt = OWNED :: else -> attempt = COUNTED fi
        :: else ->
            SetState(slot, kSlotIdle);
            attempt = BUSY
        fi
    fi;
    owner = 0
}

/* What a dead record that the owner field does not name surely holds (OtherShare). */
#define OtherSure(st, hl) ((st == kSlotWaiting || st == kSlotClaiming || st == kSlotTakingOver) -> 1 : \
                           (SurelyOwned(st) -> hl : 0))

/* Takes the lock over from an owner proven gone twice (TakeOverDeadOwner):
   the census judges it again, under the mutex or without it once another
   keeps it; the compare-exchange of the owner field from the dead owner's id
   is the one decision. Before it, what the dead owner may hold beyond what it
   surely holds is counted, and our own record notes the part of the hold no
   record of the owner's id counts once the field names us (nobody writes
   another's record before winning); after it, the hold moves to
   possiblePhantoms and out of lockCount, and the owner's records stop
   counting it. */
inline TakeOverDeadOwner(t, slot, ownerSeen, acquired) {
    TryRecoveryOrGoOn(t, got, hold);
    if
    :: got ->
        FirstLook(slot);
        owner = ownerThreadId;
        LATE_JUDGE(slot);
        takingOver = true;
        JudgeSeen(owner, slot);
        ok = (owner == ownerSeen && ActsOn());
        if
        :: ok && deadRec != NONE -> st = seen[deadRec]; hl = rec[deadRec].heldLevels; Share(st, true)
        :: ok && deadRec == NONE -> sure = (recursionCount > 0 -> recursionCount : 1); most = recursionCount + 1
        :: else -> skip
        fi;
        /* what the owner's dead records of its id count once the field no longer names it */
        if
        :: ok ->
            d_step {
                kin = 0;
                j = 0;
                do
                :: j < SLOTS ->
                    if
                    :: j != slot && deadAt[j] && seenId[j] == owner && MayOwn(seen[j]) ->
                        kin = kin + OtherSure(seen[j], rec[j].heldLevels)
                    :: else -> skip
                    fi;
                    j++
                :: else -> break
                od;
                j = 0
            }
        :: else -> skip
        fi;
        /* No wake-up is meant for anyone once the lock is ours: one left
           pending is taken before the owner field changes, or a waiter of an
           earlier build that arrives meanwhile takes it and the field. */
        if
        :: ok -> d_step { borrowed = wakeEvent; wakeEvent = 0 }   /* before the claim */
        :: else -> skip
        fi;
        /* An owner that died after its compare-exchange while its record
           still said Waiting (claiming a lock nobody owned) may have left
           pending the wake-up it meant to take, and a waiter of an earlier
           build that takes it writes the owner field without a
           compare-exchange: taken over only with that wake-up in hand (our
           wait took it) or with no thread about that keeps no record (looked
           at after our take: one that took it first shows). */
        if
        :: ok && deadRec != NONE && seen[deadRec] == kSlotWaiting ->
            ok = (spareOwner == ownerSeen || OnlyRecordingPeers())
        :: else -> skip
        fi;
        if
        :: ok ->
#ifndef TODAY_NOTE
            if
            :: most > sure -> possiblePhantoms = possiblePhantoms + most - sure
            :: else -> skip
            fi;
#endif
            if
            :: slot != NONE ->
                rec[slot].heldLevels = (sure > kin -> sure - kin : 0);
                rec[slot].state = kSlotTakingOver
            :: else -> possiblePhantoms = possiblePhantoms + sure   /* no record to note it in */
            fi;
            atomic {
                if
                :: ownerThreadId == ownerSeen -> ownerThreadId = ME; Own(t); got = true
                :: else -> got = false
                fi;
                takingOver = false
            };
            if
            :: got ->
                if :: slot != NONE -> possiblePhantoms = possiblePhantoms + sure :: else -> skip fi;
                /* the owner's records: its own counts none and stands for the
                   field no longer, its others count at most one */
                j = 0;
                do
                :: j < SLOTS ->
                    if
                    :: j != slot && deadAt[j] && rec[j].threadId == owner && MayOwn(rec[j].state) && j == deadRec ->
                        d_step { rec[j].heldLevels = 0; rec[j].state = kSlotOwning };
                        rec[j].threadId = TAKEN_OVER
                    :: j != slot && deadAt[j] && rec[j].threadId == owner && MayOwn(rec[j].state) && j != deadRec &&
                       OtherSure(rec[j].state, rec[j].heldLevels) > 0 ->
                        rec[j].state = kSlotSpinning
                    :: else -> skip
                    fi;
                    j++
                :: else -> break
                od;
                j = 0;
                recursionCount = 1;
                if
                :: slot != NONE -> rec[slot].heldLevels = 0; rec[slot].state = kSlotOwning
                :: else -> skip
                fi;
                Withdraw(sure);
                d_step {
                    possiblePhantoms = possiblePhantoms - sure;
                    if
                    :: deadRec == NONE -> unrecorded = (unrecorded > sure -> unrecorded - sure : 0)
                    :: else -> skip
                    fi
                };
                ForgetLooks();
                d_step { sure = 0; most = 0; st = 0; hl = 0; kin = 0; deadRec = NONE; gone = false; namesake = false };
                if
                :: hold -> Settle(t, slot)
                :: else -> SettleWhileOwning(t, slot)
                fi;
                acquired = true
            :: else ->
                if
                :: slot != NONE -> rec[slot].state = kSlotWaiting; rec[slot].heldLevels = 0
                :: else -> skip
                fi
            fi
        :: else -> takingOver = false
        fi;
        /* not taken over: the wake-up is given back */
        if :: borrowed && !acquired -> wakeEvent = 1 :: else -> skip fi;
        ForgetLooks();
        d_step { sure = 0; most = 0; st = 0; hl = 0; kin = 0; owner = 0; deadRec = NONE; gone = false;
                 namesake = false; ok = false; borrowed = false };
        if :: hold -> LeaveRecovery() :: else -> skip fi;
        hold = false
    :: else -> skip
    fi
}

inline MoveEpoch() {
    d_step {
        j = 0;
        do
        :: j < ALL -> epochMoved[j] = true; j++
        :: else -> break
        od;
        j = 0
    }
}

/* Claims a lock nobody owns (ClaimUnowned): when the census shows no live
   thread between two steps, every peer keeps records, no live thread that has
   taken a wake-up is about to act on it (the epoch moves first: it says
   Claiming before it reads the epoch), and once the owner field is ours no
   live release is under way, every peer still keeps records and the field
   still names us, no release or wake-up is on its way: the lock is ours on
   our announcement. Under the mutex, or without it once another keeps it. */
inline ClaimUnowned(t, slot, acquired) {
    TryRecoveryOrGoOn(t, got, hold);
    if
    :: got ->
#ifdef TODAY_CLAIM
        ok = OnlyRecordingPeers();
        c = lockCount;
        live = 1;
        deadMost = 0;
        evidence = false;
        i = 0;
        do
        :: i < SLOTS ->
            d_step {
                st = rec[i].state;
                if
                :: i == slot || rec[i].threadId == 0 || st == kSlotUnclaimed -> skip
                :: SeenDead(i) ->
                    hl = rec[i].heldLevels;
                    Share(st, false);
                    deadMost = deadMost + most;
                    evidence = evidence || st == kSlotSpinning || st == kSlotClaiming ||
                               st == kSlotWaiting || st == kSlotReleasing ||
                               st == kSlotSignalling || st == kSlotAnnouncing
                :: else ->
                    if
                    :: st == kSlotWaiting -> live++
                    :: MidStep(st) -> ok = false
                    :: else -> skip
                    fi
                fi;
                st = 0; hl = 0; sure = 0; most = 0;
                i++
            }
        :: else -> break
        od;
        /* Today: every level accounted for by records (the phantoms counted
           nowhere), and a dead thread in a hand-over as proof. */
        ok = ok && ownerThreadId == 0 && evidence && c <= live + deadMost;
#else
        /* Neither a record that changed during the census nor a peer that
           keeps no record stops the claim here: a release either may start
           is found once the owner field is ours, and the claim given back. */
        ok = true;
        /* The census's second look can only stop a claim here (the owner
           field moved meanwhile): left to the compare-exchange, which makes
           the model try more claims than the code does, never fewer. */
        FirstLook(slot);
        LATE_JUDGE(slot);
        d_step {
            i = 0;
            do
            :: i < SLOTS ->
                if
                :: i != slot && InUse(seenId[i], seen[i]) && !deadAt[i] && MidStep(seen[i]) -> ok = false
                :: else -> skip
                fi;
                i++
            :: else -> break
            od;
            i = 0
        };
        ForgetLooks();
        ok = ok && OnlyRecordingPeers();
#ifndef TODAY_SINGLE_WAIT
        if
        :: ok ->
            MoveEpoch();   /* before the last look at the records */
            i = 0;
            do
            :: i < SLOTS ->
                if
                :: i != slot && rec[i].state == kSlotClaiming && !SeenDead(i) -> ok = false
                :: else -> skip
                fi;
                i++
            :: else -> break
            od;
            i = 0
        :: else -> skip
        fi;
#endif
#endif
        if
        :: ok ->
            atomic {
                if
                :: ownerThreadId == 0 -> ownerThreadId = ME; got = true
                :: else -> got = false
                fi
            };
            if
            :: got ->
#if defined(TODAY_CLAIM) || defined(TODAY_CLAIM_NO_RECHECK) || defined(TODAY_SINGLE_WAIT)
                /* Today: the wake-up left pending taken at once, before a
                   release the claim landed in sends its own. */
                d_step { borrowed = wakeEvent; wakeEvent = 0 };
#endif
#if !defined(TODAY_CLAIM) && !defined(TODAY_CLAIM_NO_RECHECK)
                /* A release that cleared the owner field just before the
                   claim may still owe its wake-up: the claim is given back,
                   and the lock waited for as before. */
                i = 0;
                do
                :: i < SLOTS ->
                    if
                    :: i != slot -> st = rec[i].state
                    :: else -> st = 0
                    fi;
                    if
                    :: (st == kSlotReleasing || st == kSlotSignalling) && !SeenDead(i) -> ok = false
                    :: else -> skip
                    fi;
                    st = 0;
                    i++
                :: else -> break
                od;
                i = 0;
                /* nor one of a thread that keeps no record */
                ok = ok && OnlyRecordingPeers();
#ifndef TODAY_SINGLE_WAIT
                /* A wake-up left pending goes with the claim, taken once no
                   release is under way (one that ended since the owner field
                   became ours has sent its own by then), and given back with
                   the claim. A waiter of an earlier build that arrived and
                   took one first is seen after it, or has written the owner
                   field. */
                atomic { borrowed = wakeEvent; wakeEvent = 0 };
                ok = OnlyRecordingPeers() && ok;
#ifndef TODAY_ONE_EPOCH
                /* A waiter may have taken a wake-up left pending before the
                   claim after reading the epoch the claim had moved: its
                   compare-exchange may come at any time, inside our release
                   too. The epoch moves again, and a live waiter that says
                   Claiming has the lock left to it. */
                if
                :: ok ->
                    MoveEpoch();
                    i = 0;
                    do
                    :: i < SLOTS ->
                        if
                        :: i != slot && !SeenDead(i) && rec[i].state == kSlotClaiming -> ok = false
                        :: else -> skip
                        fi;
                        i++
                    :: else -> break
                    od;
                    i = 0
                :: else -> skip
                fi;
#endif
#endif
                /* A waiter of an earlier build that took a wake-up pending
                   before ours was borrowed writes the owner field without a
                   compare-exchange, and its process may be gone by now. */
                ok = ok && ownerThreadId == ME;
#endif
                if
                :: ok ->
                    /* never inside a live owner's release */
                    assert(!inRelease[0] && !inRelease[1] && (ALL <= 2 || !inRelease[2]));
                    atomic { Own(t); HeldBy(t, slot) };
                    if
                    :: hold -> Settle(t, slot)
                    :: else -> SettleWhileOwning(t, slot)
                    fi;
                    acquired = true
                :: else ->
                    /* The wake-up back while the field still names us: once
                       it is cleared, another claim may come and find none to
                       borrow, and ours would then be left beside its hold. */
                    if :: borrowed -> wakeEvent = 1 :: else -> skip fi;
                    atomic { if :: ownerThreadId == ME -> ownerThreadId = 0 :: else -> skip fi }
                fi;
                borrowed = false
            :: else -> skip
            fi
        :: else -> skip
        fi;
        d_step { i = 0; c = 0; live = 0; deadMost = 0; ok = false; evidence = false };
        if :: hold -> LeaveRecovery() :: else -> skip fi;
        hold = false
    :: else -> skip
    fi
}

/* The life of the thread the owner field names, when a record of ours other
   than the waiter's says it surely owns and the life is not known to be over
   (OwnersLife); 0 otherwise. */
inline WatchedLife(slot, owner) {
    d_step {
        watched = 0;
        if
        :: slot != NONE && owner != 0 && owner != ME ->
            j = 0;
            do
            :: j < SLOTS && watched == 0 ->
                if
                :: j != slot && rec[j].threadId == owner && SurelyOwned(rec[j].state) &&
                   rec[j].life != 0 && rec[j].life != lifeOver -> watched = rec[j].life
                :: else -> skip
                fi;
                j++
            :: else -> break
            od;
            j = 0
        :: else -> skip
        fi
    }
}

/* A wait returns a life's mutex once it is abandoned or free, and not while
   another (a watcher, another program) holds it. */
#define LifeReturned(l) (!lifeOwned[l] && lifeHeld[l] == 0)

inline WaitForOwnership(t, slot, acquired, vanished) {
    suspected = 0;
    spareOwner = 0;
    lifeOver = 0;
    acquired = false;
    vanished = false;
    do
    :: acquired || vanished -> break
    :: else ->
        /* The epoch as the wait begins: a claim made after this, before the
           wake-up is acted on, spends it. */
        epochMoved[t] = false;
        owner = ownerThreadId;
        WatchedLife(slot, owner);
#ifdef TODAY_WATCH_CLAIMING
        /* Today: Claiming said through the watch. */
        if :: watched != 0 -> SetState(slot, kSlotClaiming) :: else -> skip fi;
#endif
        /* The wake-up, or the end of the owner's life, in one wait; the
           record says Waiting through it. */
        atomic {
            if
            :: wakeEvent -> wakeEvent = 0; got = true
            :: watched != 0 && LifeReturned(watched) ->
                got = false; lifeOver = watched; suspected = owner;
#ifdef TODAY_HOLD_LIFE
                /* Today: its mutex held through the look and the takeover. */
                lifeHeld[watched] = t + 1
#else
                skip   /* its mutex let go at once */
#endif
            :: else -> got = false
            fi
        };
#ifdef TODAY_WATCH_CLAIMING
        if :: !got && watched != 0 -> SetState(slot, kSlotWaiting) :: else -> skip fi;
#endif
        owner = 0;
        watched = 0;
        if
        :: got ->
            /* Claiming (an exchange: a full barrier) before the epoch is read
               again: a claim that moves the epoch after this finds us between
               two steps; one that moved it before, we find, and the wake-up
               is spent. Then one compare-exchange of the owner field. */
            SetState(slot, kSlotClaiming);
#ifndef TODAY_SINGLE_WAIT
            if
            :: slot != NONE && epochMoved[t] -> got = false
            :: else -> ClaimOwnerField(t, slot, got)
            fi;
#else
            ClaimOwnerField(t, slot, got);
#endif
            if
            :: got ->
                acquired = true;
                NeedsSettling(slot, needs);
                if
                :: needs -> SettleWhileOwning(t, slot)
                :: else -> skip
                fi
            :: else ->
                /* Spent, or released to us while the owner field names
                   another (a claimer that died before taking the wake-up it
                   left pending, which this is): kept in hand for a takeover
                   of that owner. */
                SetState(slot, kSlotWaiting);
                spareOwner = ownerThreadId
            fi
        :: else -> skip
        fi;
        /* The look, after any slice that did not end with the lock. */
        if
        :: acquired -> skip
        :: !acquired && lockCount == 0 -> vanished = true
        :: !acquired && lockCount != 0 ->
            owner = ownerThreadId;
            if
            :: owner != 0 ->
                LookAtOwner(t, slot, owner);
                if
                :: !ActsOn() -> suspected = 0
                :: ActsOn() && suspected != owner -> suspected = owner
                :: ActsOn() && suspected == owner -> TakeOverDeadOwner(t, slot, suspected, acquired)
                fi;
                d_step { gone = false; namesake = false; deadRec = NONE }
            :: else ->
                suspected = 0;
                ClaimUnowned(t, slot, acquired)
            fi;
            owner = 0
        fi;
#ifdef TODAY_HOLD_LIFE
        d_step {
            j = 1;
            do
            :: j < LIVES -> if :: lifeHeld[j] == t + 1 -> lifeHeld[j] = 0 :: else -> skip fi; j++
            :: else -> break
            od;
            j = 0
        };
#endif
        epochMoved[t] = false
    od;
    suspected = 0;
    spareOwner = 0;
    lifeOver = 0
}

inline SettleWhileOwning(t, slot) {
    TryRecovery(t, got);
    if
    :: got -> Settle(t, slot); LeaveRecovery()
    :: else -> skip
    fi
}

inline EnterContended(t, acquired) {
    counted = (attempt == COUNTED);
    if
    :: slot == NONE && !counted && tls == NOSLOT ->
        TLS = 0; ClaimSlot(t); TLS = tls   /* a record makes this thread's death recoverable */
    :: else -> skip
    fi;
    acquired = false;
    do
    :: acquired -> break
    :: else ->
        if
        :: counted -> SetState(slot, kSlotWaiting)
        :: else ->
            SetState(slot, kSlotAnnouncing);
            atomic { lockCount++; levels[t]++; c = lockCount };
            if
            :: c == 1 ->
#ifdef TODAY_WAITING_CLAIM
                SetState(slot, kSlotWaiting);
#else
                SetState(slot, kSlotClaiming);   /* freed meanwhile: our announcement is our level */
#endif
                ClaimOwnerField(t, slot, acquired);
                if :: !acquired -> SetState(slot, kSlotWaiting) :: else -> skip fi
            :: else -> SetState(slot, kSlotWaiting)
            fi;
            c = 0
        fi;
        if
        :: !acquired ->
            WaitForOwnership(t, slot, acquired, vanished);
            if
            :: vanished ->
                SetState(slot, kSlotIdle);
                TryEnterAs(t, slot, attempt);
                acquired = (attempt == OWNED);
                counted = (attempt == COUNTED)
            :: else -> skip
            fi
        :: else -> skip
        fi
    od;
    counted = false
}

/* Levels taken without a record are counted in TLS, above NOSLOT. */
inline CountPlainLevel(t) {
    if
    :: slot == NONE && TLS >= NOSLOT -> TLS++
    :: else -> skip
    fi
}

inline Enter(t, isTry, entered) {
    busy[t] = true;
    SlotForEnter(t);
    TryEnterAs(t, slot, attempt);
    if
    :: attempt == OWNED -> entered = true
    :: attempt == COUNTED && isTry ->
        SetState(slot, kSlotSpinning);
        d_step { lockCount--; levels[t]-- };
        SetState(slot, kSlotIdle);
        entered = false
    :: attempt == BUSY && isTry -> entered = false
    :: attempt != OWNED && !isTry ->
        EnterContended(t, entered)
    fi;
    if
    :: entered -> slot = (TLS != 0 && TLS < NOSLOT -> TLS - 1 : NONE); CountPlainLevel(t)
    :: else -> skip
    fi;
#ifndef TODAY_MARKER
    /* A thread with no record and no level lets its marker go. */
    if
    :: !entered && TLS == NOSLOT -> Unmark(t)
    :: else -> skip
    fi;
#endif
    if
    :: entered -> assert(ownerThreadId == ME && LevelsMatch(t))
    :: else -> skip
    fi;
    d_step { attempt = 0; busy[t] = false }
}

/* A hint, read without the mutex: a dead thread's record in use, a live
   one's that is stale (time is not modelled: at any moment), and levels
   beyond what the owner and the records that may wait hold, for levels of
   threads whose records are gone, or that kept none. */
inline NeedsSettling(slot, needs) {
    d_step {
        needs = false;
        live = recursionCount;
        i = 0;
        do
        :: i < SLOTS ->
            if
            :: i != slot && rec[i].threadId != 0 && rec[i].state != kSlotIdle &&
               rec[i].state != kSlotUnclaimed ->
                inUse = true;
                needs = needs || SeenDead(i)
            :: else -> skip
            fi;
            if
            :: i != slot && rec[i].threadId != 0 && rec[i].state != kSlotIdle &&
               rec[i].state != kSlotUnclaimed && rec[i].state != kSlotSignalling -> live++
            :: else -> skip
            fi;
            i++
        :: else -> break
        od;
        needs = needs || lockCount > live;
        i = 0;
        live = 0
    };
    /* a record in use not renewed for a while: its thread may only be slow */
    if
    :: inUse -> needs = true
    :: true -> skip
    fi;
    inUse = false
}

inline Leave(t) {
    busy[t] = true;
    tls = TLS;
    slot = (tls != 0 && tls < NOSLOT -> tls - 1 : NONE);
    assert(ownerThreadId == ME && LevelsMatch(t));
    if
    :: slot == NONE && tls > NOSLOT -> TLS--
    :: else -> skip
    fi;
    if
    :: recursionCount > 1 ->
        SetState(slot, kSlotLeaving);
        recursionCount--;
        d_step { lockCount--; levels[t]--;
                 if :: believesOwner[t] && levels[t] == 0 -> Disown(t); inheritedLevels[t] = 0 :: else -> skip fi };
        if
        :: slot != NONE && rec[slot].heldLevels != 0 && recursionCount == rec[slot].heldLevels ->
            /* our last level on a hold through another copy */
            rec[slot].heldLevels = 0;
            SetState(slot, kSlotIdle)
        :: else -> SetState(slot, kSlotOwning)
        fi
    :: else ->
        if
        :: lockCount > 1 ->
            NeedsSettling(slot, needs);
            if :: needs -> SettleWhileOwning(t, slot) :: else -> skip fi
        :: else -> skip
        fi;
        SetState(slot, kSlotReleasing);
        recursionCount = 0;
        d_step { ownerThreadId = 0; Disown(t); inRelease[t] = true; inheritedLevels[t] = 0 };
        atomic { lockCount--; levels[t]--; c = lockCount };
        if
        :: c > 0 ->
            SetState(slot, kSlotSignalling);
#ifdef BAD_EVENT
            /* A host's bug closed this process's handle of the event. */
            if
            :: badEvent ->
#ifdef TODAY_SETEVENT
                /* Today: opened again only when the mutex is free at once,
                   else the same bad handle once more. */
                TryRecovery(t, got);
                if :: got -> badEvent = false; LeaveRecovery() :: else -> skip fi;
                if :: !badEvent -> wakeEvent = 1 :: else -> skip fi
#else
                /* Opened by name for this wake-up. */
                wakeEvent = 1
#endif
            :: else -> wakeEvent = 1
            fi
#else
            wakeEvent = 1
#endif
        :: else -> skip
        fi;
        d_step { c = 0; inRelease[t] = false };
        if
        :: slot != NONE && rec[slot].heldLevels != 0 -> rec[slot].heldLevels = 0
        :: else -> skip
        fi;
        SetState(slot, kSlotIdle)
    fi;
#ifndef TODAY_MARKER
    if
    :: TLS == NOSLOT -> Unmark(t)
    :: else -> skip
    fi;
#endif
    /* with no level of its own left, its record says so */
    assert(slot == NONE || levels[t] > plainLevels[t] || rec[slot].state == kSlotIdle);
    d_step { needs = false; busy[t] = false }
}

inline ForgetCurrentThread(t) {
    tls = TLS;
    if
    :: tls != 0 && tls < NOSLOT && rec[tls - 1].state == kSlotIdle ->
        TryRecovery(t, got);
        if
        :: got ->
            rec[tls - 1].state = kSlotUnclaimed;
            rec[tls - 1].threadId = 0;
            TLS = 0;
            LeaveRecovery()
        :: else -> skip
        fi
    :: tls == NOSLOT -> Unmark(t)
    :: else -> skip
    fi
}

/* The lock as an earlier build takes and leaves it: no record, the owner
   field written by exchange, a level on its id alone. */
inline LegacyEnter(t) {
    atomic {
        if
        :: lockCount == 0 -> lockCount = 1; levels[t]++; plainLevels[t]++; got = true
        :: else -> got = false
        fi
    };
    if
    :: !got && ownerThreadId == ME ->
        /* on its id alone: a dead namesake's hold becomes its own */
        d_step { lockCount++; levels[t]++; plainLevels[t]++;
                 if :: !believesOwner[t] -> Own(t); inheritedLevels[t] = recursionCount; inherited = true :: else -> skip fi };
        recursionCount++
    :: !got && ownerThreadId != ME ->
        atomic { lockCount++; levels[t]++; plainLevels[t]++; c = lockCount };
        if
        :: c != 1 -> atomic { wakeEvent -> wakeEvent = 0 }
        :: else -> skip
        fi;
        atomic { ownerThreadId = ME; Own(t) };
        recursionCount = 1
    :: got ->
        atomic { ownerThreadId = ME; Own(t) };
        recursionCount = 1
    fi;
    d_step { got = false; c = 0 }
}

inline LegacyLeave(t) {
    assert(ownerThreadId == ME);
    recursionCount--;
    if
    :: recursionCount > 0 ->
        d_step { lockCount--; levels[t]--; plainLevels[t]--;
                 if :: believesOwner[t] && levels[t] == 0 -> Disown(t); inheritedLevels[t] = 0 :: else -> skip fi }
    :: else ->
        d_step { ownerThreadId = 0; Disown(t); inheritedLevels[t] = 0 };
        atomic { lockCount--; levels[t]--; plainLevels[t]--; c = lockCount };
        if
        :: c > 0 -> wakeEvent = 1
        :: else -> skip
        fi;
        c = 0
    fi
}

proctype Thread(byte t) {
    byte me = incarnation[t];
    byte tlsOf[2];               /* TLS of copy 0 and copy 1 of the module */
    byte copy, tls, slot, round, attempt, c, owner, suspected, deadRec, sure, most;
    byte i, j, st, hl, live, deadSure, deadMost;
    byte spareOwner;             /* a wake-up in hand, taken while the owner field named it */
    byte watched, lifeOver;      /* the owner's life a waiter watches; the last found over */
    byte unrecordedSeen;         /* ghost: unrecorded as lockCount was read */
    byte seen[SLOTS], seenId[SLOTS];
    bool deadAt[SLOTS];
    bool got, gone, namesake, vanished, counted, entered, innerEntered, isTry, nested;
    bool exact, snapshot, ok, evidence, needs, inUse, outer, borrowed, hold;
    byte kin;                    /* what the owner's dead records of its id count, the field not naming it */
#ifdef BAD_EVENT
    bool badEvent;
    if :: t == 0 -> badEvent = true :: else -> skip fi;
#endif
    { {
        round = (STRANGER && me > 0 && t < THREADS -> ROUNDS : 0);
        do
        :: round < ROUNDS ->
            /* thread 0 may nest a level, thread 1 may only try */
            if
            :: t == 1 && TRY -> if :: isTry = true :: isTry = false fi
            :: t == 2 && THIRD_TRIES -> isTry = true
            :: else -> isTry = false
            fi;
            if
            :: t == 0 && NESTED -> if :: nested = true :: nested = false fi
            :: else -> nested = false
            fi;
            if
            :: t == 0 && RECORDLESS_COPY -> outer = true; LegacyEnter(t)
            :: else -> outer = false
            fi;
            copy = 0;
            Enter(t, isTry, entered);
            if
            :: entered && nested ->
                /* a nested level through the other copy of the module */
                copy = 1;
                Enter(t, false, innerEntered);
                Leave(t);
                copy = 0
            :: else -> skip
            fi;
            if
            :: entered -> Leave(t)
            :: else -> skip
            fi;
            if
            :: outer -> LegacyLeave(t); outer = false
            :: else -> skip
            fi;
            d_step { entered = false; innerEntered = false; isTry = false; nested = false };
            round++
        :: else -> break
        od;
        if
        :: LINGER && t == THREADS - 1 -> done + stops == THREADS - 1 + LEGACY   /* lives on, idle */
        :: STRANGER && me > 0 && t < THREADS -> done + stops == THREADS - 1 + LEGACY
        :: else -> skip
        fi;
        ForgetCurrentThread(t);
        atomic {
            running[t] = false;
            lifeOwned[life[t]] = false;
            Unmark(t);
            recordless[t] = false;
            /* each thread is a process of its own: its end closes the copy */
            if :: legacyCopy[t] -> legacyCopy[t] = false; markers-- :: else -> skip fi;
            done++
        };
        if
        :: t == JANITOR && !unaccountable && !(LEGACY && deaths > 0) && !stoppedOnce ->
            /* after the last death, the lock is back in its uncontended form */
            assert(lockCount == 0 && ownerThreadId == 0 && holders == 0)
        :: else -> skip
        fi
    } unless { incarnation[t] != me } } unless { stopped[t] };
    /* stopped for good: its records, levels and objects stay as they were */
end_stopped:
    !stopped[t] || incarnation[t] != me
}

proctype Legacy() {
    byte t = LEGACY_T;
    byte round, c;
    bool got;
    round = 0;
    do
    :: round < ROUNDS ->
        LegacyEnter(t);
        LegacyLeave(t);
        round++
    :: else -> break
    od;
    /* its process ends with it: the handle count no longer shows it */
    running[t] = false;
    markers--;
    done++
}

inline Start(t) {
    if
    :: RECORDLESS_COPY && t == 0 && !legacyCopy[0] -> legacyCopy[0] = true; markers++
    :: else -> skip
    fi;
    life[t] = nextLife;
    lifeOwned[nextLife] = true;
    nextLife++;
    running[t] = true;
    run Thread(t)
}

#if FOREIGN
/* Another program that opens the recovery mutex by its name and keeps it
   once, for as long as it likes (FOREIGN 2: for good). */
active proctype Foreign() {
end:
    atomic { recoveryMutex == 0 -> recoveryMutex = FOREIGN_HOLD };
end_kept:
    (FOREIGN != 2);
    recoveryMutex = 0
}
#endif

#if FOREIGN_LIFE
/* Another program that waits on the life mutex of thread 0 or 1, gets it when
   the thread ends, and keeps it. */
active proctype LifeKeeper() {
    byte l;
    if :: l = 1 :: l = 2 fi;
end:
    atomic { LifeReturned(l) -> lifeHeld[l] = FOREIGN_HOLD }
}
#endif

#if STOP
/* A thread of ours, held up for good at any step where it neither owns the
   lock (the owner field names it once its claim's compare-exchange is done)
   nor is taking it (its record says Idle, Waiting or TakingOver): under a
   debugger, or starved. Its records, levels, held mutexes stay. */
#define Taking(r, v) (rec[r].threadId == tid[v] && (rec[r].state == kSlotSpinning || rec[r].state == kSlotClaiming || \
                      rec[r].state == kSlotAnnouncing || rec[r].state == kSlotReleasing || \
                      rec[r].state == kSlotSignalling))
#define Stoppable(v) (v < THREADS && running[v] && !believesOwner[v] && ownerThreadId != tid[v] && \
                      !inRelease[v] && !marking[v] && \
                      !Taking(0, v) && (SLOTS < 2 || !Taking(1, v)) && (SLOTS < 3 || !Taking(2, v)))
active proctype Stopper() {
end:
    if
    :: atomic { STOP != 2 && Stoppable(0) -> stopped[0] = true; stops++; stoppedOnce = true }
    :: atomic { Stoppable(1) -> stopped[1] = true; stops++; stoppedOnce = true }
    :: atomic { Stoppable(2) -> stopped[2] = true; stops++; stoppedOnce = true }
    fi
}
#endif

/* Ends thread v at its next step. */
inline End(v, process) {
    incarnation[v]++;
    lifeOwned[life[v]] = false;
    if :: stopped[v] -> stopped[v] = false; stops-- :: else -> skip fi;
    /* what it held of another's life is abandoned with it */
    k = 1;
    do
    :: k < LIVES -> if :: lifeHeld[k] == v + 1 -> lifeHeld[k] = 0 :: else -> skip fi; k++
    :: else -> break
    od;
    k = 0;
    if :: recoveryMutex == v + 1 -> recoveryMutex = 0 :: else -> skip fi;
    if :: believesOwner[v] -> Disown(v) :: else -> skip fi;
    deadLevels = deadLevels + levels[v];
    unrecorded = unrecorded + (recordless[v] -> levels[v] : plainLevels[v]);
    recordless[v] = false;
    inheritedLevels[v] = 0;
    busy[v] = false;
    inRelease[v] = false;
    levels[v] = 0;
    plainLevels[v] = 0;
    if
    :: process ->
        Unmark(v);
        if :: legacyCopy[v] -> legacyCopy[v] = false; markers-- :: else -> skip fi
    :: else -> unaccountable = unaccountable || marking[v] || legacyCopy[v]; marking[v] = false
    fi;
    if
    :: REUSE ->
#ifdef TODAY_IDS
        /* a new thread, possibly created in the same tick as the dead one */
        if :: skip :: created[v]++ fi;
#endif
        Start(v)
    :: else -> running[v] = false; done++
    fi
}

/* A thread that keeps no record is ended only with its process, unless
   KILL_UNRECORDED: its levels cannot be traced otherwise. */
#define Killable(v) (deaths < DEATHS && v < VICTIMS && running[v] && (!OWNERS_DIE || ownerThreadId == tid[v]))
#define KillThread(v) atomic { Killable(v) && (!marking[v] || KILL_UNRECORDED) -> deaths++; End(v, false) }
#define KillProcess(v) atomic { Killable(v) -> deaths++; End(v, true); \
                                if :: SHARED_PROCESS && v < 2 && running[1 - v] -> End(1 - v, true) \
                                   :: else -> skip fi }

active proctype Killer() {
    byte k;
end:
    do
    :: KillProcess(0)
    :: KillThread(0)
    :: KillProcess(1)
    :: KillThread(1)
    :: KillProcess(2)
    :: KillThread(2)
    od
}

init {
    byte t;
    atomic {
        t = 0;
        do
        :: t < ALL -> tid[t] = t + 1; t++
        :: else -> break
        od;
        if :: LEGACY_NAMESAKE -> tid[LEGACY_T] = tid[0] :: else -> skip fi;
        if
        :: DEAD_CLAIMER ->
            /* between its compare-exchange of the owner field and taking the
               wake-up; its id no running thread has, and no life mutex:
               judged by its id. It counts as the one death. */
            rec[SLOTS - 1].threadId = 9; rec[SLOTS - 1].state = kSlotWaiting;
            lockCount = 1; deadLevels = 1; ownerThreadId = 9; wakeEvent = 1; deaths = 1
        :: DEAD_GUEST == 1 ->
            /* no life mutex either: judged by the id, which no running
               thread has; they count as two deaths */
            rec[SLOTS - 2].threadId = 9; rec[SLOTS - 2].state = kSlotOwning;
            rec[SLOTS - 1].threadId = 9; rec[SLOTS - 1].state = kSlotOwning; rec[SLOTS - 1].heldLevels = 1;
            lockCount = 2; recursionCount = 2; deadLevels = 2; ownerThreadId = 9; deaths = 2
        :: DEAD_GUEST == 2 ->
            rec[SLOTS - 2].threadId = 9; rec[SLOTS - 2].state = kSlotReentering; rec[SLOTS - 2].heldLevels = 1;
            rec[SLOTS - 1].threadId = 9; rec[SLOTS - 1].state = kSlotClaiming;
            lockCount = 1; recursionCount = 1; deadLevels = 1; ownerThreadId = 9; deaths = 2
        :: STRAY_WAKEUP -> wakeEvent = 1
        :: DEAD_NAMESAKE ->
            /* no life mutex: judged by its record, which thread 0's id names */
            rec[SLOTS - 1].threadId = tid[0]; rec[SLOTS - 1].state = kSlotOwning;
            lockCount = 1; recursionCount = 1; deadLevels = 1; ownerThreadId = tid[0]; deaths = 1
        :: else -> skip
        fi;
        t = 0;
        do
        :: t < THREADS -> Start(t); t++
        :: else -> break
        od;
        if
        :: LEGACY && !LEGACY_NAMESAKE && !LEGACY_LATE -> running[LEGACY_T] = true; markers++; run Legacy()
        :: else -> skip
        fi
    };
    if
    :: LEGACY && LEGACY_NAMESAKE ->
        /* an earlier build's thread given the id of thread 0, once it ended,
           outside a takeover's window (takingOver) */
        atomic { !running[0] && !takingOver -> running[LEGACY_T] = true; markers++; run Legacy() }
    :: LEGACY && LEGACY_LATE -> atomic { running[LEGACY_T] = true; markers++; run Legacy() }
    :: else -> skip
    fi;
    done + stops == THREADS + LEGACY;
    atomic { done = 0; Start(JANITOR) }
}
