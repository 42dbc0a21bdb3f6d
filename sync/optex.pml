/*
 * The Optex protocol as sync/optex.cpp runs it, step for step, for the Spin
 * model checker (tests/check_spin_model.cmake runs it in the configurations
 * tests/CMakeLists.txt lists; the README says how).
 *
 * One step of the model is one access to shared memory or one kernel call:
 * the 16-byte block (lockCount, ownerThreadId, recursionCount), the wake-up
 * event, the thread records beside it, the recovery mutex. Threads of this
 * build follow Enter, TryEnter and Leave; a thread of an earlier build
 * follows the lock as it was, with no record. The killer ends any thread of
 * this build at any step, alone or with its process (each thread is a
 * process of its own here: what a process's death adds is that its markers
 * close), at most DEATHS times; with REUSE, an ended thread's id is given to
 * the next thread at once, which starts with no record, as a new thread.
 * The TODAY_* switches play the rules the protocol had before.
 *
 * What is abstracted: time. A wait on the event returns when the event is
 * set and otherwise times out; the second-long quiet a waiter wants before
 * claiming a lock nobody owns, and the freshness of a waiter's record, are
 * left out, so claims and judgements may come at any moment, which only
 * makes the check harder to pass. Spinning is one compare-exchange.
 *
 * Checked: never two live threads that believe they hold the lock, and no
 * thread taking a lock it believes it holds; the owner's levels are
 * recursionCount; a withdrawal takes only levels dead threads left; no cycle
 * in which no thread makes progress (weak fairness); and, once every thread
 * is done, the next thread that takes and leaves the lock leaves lockCount
 * at 0 and the owner field clear.
 *
 * The state names are those of OptexSlotState (sync/optex_side.h), with the
 * same values; a test compares them.
 */

#ifndef THREADS
#define THREADS 2      /* threads of this build that may die */
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
#ifndef NESTED
#define NESTED 1       /* thread 0 may take a nested level, through the other copy of the module */
#endif
#ifndef TRY
#define TRY 1          /* thread 1 may TryEnter instead of Enter */
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
/* states: end */

#define NONE 255
#define NOSLOT (SLOTS + 1)             /* TLS value of a thread without a record */
#define JANITOR THREADS                /* the thread that comes after all the others */
#define LEGACY_T (THREADS + 1)         /* the earlier build's thread */
#define ALL (THREADS + 2)
#define LIVES (THREADS + DEATHS + 2)   /* life 0: none */

#define OWNED 0
#define BUSY 1
#define COUNTED 2

#define MayOwn(s) (s == kSlotClaiming || s == kSlotOwning || s == kSlotReentering || \
                   s == kSlotLeaving || s == kSlotReleasing || s == kSlotWaiting)
#define SurelyOwned(s) (s == kSlotOwning || s == kSlotReentering || s == kSlotLeaving)
/* A live thread in one of these has a step to make that changes lockCount,
   the owner field or the event. */
#define MidStep(s) (s != kSlotUnclaimed && s != kSlotIdle && s != kSlotWaiting)
/* A dead thread's record in one of these holds no level for sure. */
#define ReusableWhenDead(s, named) (s == kSlotIdle || s == kSlotUnclaimed || s == kSlotSpinning || \
                                    s == kSlotAnnouncing || s == kSlotSignalling || \
                                    (s == kSlotReleasing && !(named)))

/* ---- shared memory and kernel objects ---- */
byte lockCount;
byte ownerThreadId;
byte recursionCount;
bit wakeEvent;                   /* auto-reset */

typedef Record {
    byte threadId;
    byte life;                   /* the thread's life mutex (mended) */
    byte created;                /* its creation time (today's identity) */
    byte state;
    byte heldLevels;
};
Record rec[SLOTS];
byte possiblePhantoms;
byte recoveryMutex;              /* holder + 1; 0: free or abandoned */
bool lifeOwned[LIVES];           /* the life mutex is owned by its thread, alive */
byte nextLife = 1;
byte markers;                    /* threads without a record, each with a marker handle open */

/* ---- threads: t is a place a thread runs in; its id is t + 1 ---- */
byte incarnation[ALL];
byte life[ALL];
byte created[ALL];
bool running[ALL];
bool marking[ALL];
byte deaths;
byte done;

/* ---- what threads believe, for the checks ---- */
byte levels[ALL];                /* levels of lockCount this thread counts as its own */
bool believesOwner[ALL];
byte holders;                    /* live threads that believe they own */
byte deadLevels;                 /* levels dead threads left in lockCount */
bool unaccountable;              /* a thread without a record ended with its process alive */

/* Every thread with the lock open keeps a record, but for the asking thread
   t itself: handle counts show a process of an earlier build, or a marker. */
#define OnlyRecordingPeers() (LEGACY == 0 && markers == marking[t])

#ifdef TODAY_IDS
/* Today: dead unless a running thread has the record's id and creation time. */
#define IsDead(r) (!(running[rec[r].threadId - 1] && created[rec[r].threadId - 1] == rec[r].created))
#else
/* The life mutex: abandoned, or gone, once its thread has ended. */
#define IsDead(r) (!lifeOwned[rec[r].life])
#endif

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
    :: isOwner && (st == kSlotReentering || st == kSlotLeaving) ->
        sure = recursionCount; most = recursionCount + 1
    :: isOwner && st == kSlotOwning -> sure = recursionCount; most = recursionCount
    :: isOwner && !SurelyOwned(st) -> sure = 1; most = 1
    :: !isOwner && (st == kSlotWaiting || st == kSlotClaiming) -> sure = 1; most = 1
    :: !isOwner && SurelyOwned(st) -> sure = hl; most = hl
    :: !isOwner && (st == kSlotSpinning || st == kSlotAnnouncing || st == kSlotReleasing) ->
        sure = 0; most = 1
    :: !isOwner && (st == kSlotIdle || st == kSlotSignalling || st == kSlotUnclaimed) ->
        sure = 0; most = 0
    fi
}

/* The records the census found dead (deadSet, one bit each) are freed, one
   by one in the code: the levels they hold are counted in possiblePhantoms
   first, so a death between two is like one after the last. */
inline FreeDeadRecords() {
    d_step {
        i = 0;
        do
        :: i < SLOTS ->
            if
            :: deadSet & (1 << i) ->
                rec[i].state = kSlotUnclaimed;
                rec[i].threadId = 0
            :: else -> skip
            fi;
            i++
        :: else -> break
        od;
        i = 0;
        deadSet = 0
    }
}

/* Settle, by the owner, under the recovery mutex: what dead threads left is
   withdrawn, exactly when a snapshot of the records taken around one read of
   lockCount shows every live thread's share, otherwise only what they surely
   hold. While the lock is owned, lockCount only moves by steps that live
   threads bracket with a state that says so. Each record is read once per
   look (its state is one word; whether its thread is dead, one question to
   the kernel). */
inline Settle(t, slot) {
    exact = OnlyRecordingPeers();
    /* the first look, one read per record (what makes the snapshot sound
       holds record by record, so it is taken here in one step) */
    d_step {
        i = 0;
        do
        :: i < SLOTS -> before[i] = rec[i].state; i++
        :: else -> break
        od
    };
    c = lockCount;
    live = recursionCount;
    deadSure = 0;
    deadMost = 0;
    i = 0;
    do
    :: i < SLOTS ->
        d_step {
            st = rec[i].state;
            if
            :: st != before[i] -> exact = false
            :: else -> skip
            fi;
            if
            :: i == slot || rec[i].threadId == 0 || st == kSlotIdle || st == kSlotUnclaimed -> skip
            :: else ->
                if
                :: IsDead(i) ->
                    hl = rec[i].heldLevels;
                    Share(st, false);
                    deadSure = deadSure + sure;
                    deadMost = deadMost + most;
                    deadSet = deadSet | (1 << i)
                :: else ->
                    if
                    :: st == kSlotWaiting -> live++
                    :: MidStep(st) -> exact = false
                    :: else -> skip
                    fi
                fi
            fi;
            before[i] = 0; st = 0; sure = 0; most = 0;
            i++
        }
    :: else -> break
    od;
    /* Peers that keep no record looked for before and after: one that held
       a level between the two looks (even one releasing the lock it owned
       before us) is seen in one of them. */
    exact = exact && OnlyRecordingPeers();
#ifdef TODAY_CLAIM
    /* Today: records first, then what is sure; the rest only counted. */
    FreeDeadRecords();
    Withdraw(deadSure);
    possiblePhantoms = possiblePhantoms + deadMost - deadSure;
#else
    if
    :: exact && c >= live ->
        possiblePhantoms = possiblePhantoms + c - live;
        FreeDeadRecords();
        Withdraw(c - live);
        possiblePhantoms = 0
    :: else ->
        possiblePhantoms = possiblePhantoms + deadMost;
        FreeDeadRecords();
        Withdraw(deadSure);
        possiblePhantoms = possiblePhantoms - deadSure
    fi;
#endif
    d_step { i = 0; c = 0; live = 0; deadSure = 0; deadMost = 0; exact = false }
}

/* Whether the thread the owner field names is gone for sure; deadRec: its
   record, when it kept one. One look at the records (a copy of them in the
   code: each record's state is one word). */
inline JudgeOwner(t, slot, owner, gone, deadRec) {
    d_step {
        gone = false;
        deadRec = NONE;
        aliveRecord = false;
        j = 0;
        do
        :: j < SLOTS ->
            if
            :: j != slot && rec[j].threadId == owner && MayOwn(rec[j].state) ->
                if
                :: IsDead(j) ->
                    if
                    :: deadRec == NONE || SurelyOwned(rec[j].state) -> deadRec = j
                    :: else -> skip
                    fi
                :: else -> aliveRecord = true
                fi
            :: else -> skip
            fi;
            j++
        :: else -> break
        od;
        /* a thread runs with that id (one with no record is known by its id only) */
        runs = (owner == 0 -> false : running[owner - 1]);
        if
        :: owner == t + 1 -> gone = true  /* our own id while we wait: a thread before us left it */
        :: owner != t + 1 && aliveRecord -> skip
        :: owner != t + 1 && !aliveRecord && deadRec != NONE -> gone = !runs || OnlyRecordingPeers()
        :: owner != t + 1 && !aliveRecord && deadRec == NONE -> gone = !runs
        fi;
        j = 0;
        runs = false;
        aliveRecord = false
    }
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
        :: ownerThreadId == 0 -> ownerThreadId = t + 1; Own(t); got = true
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

inline ClaimSlot(t) {
    TryRecovery(t, got);
    if
    :: got -> d_step {
        slot = NONE;
#ifdef TODAY_IDS
        /* Today: this thread's record made through another copy, by identity. */
        i = 0;
        do
        :: i < SLOTS ->
            if
            :: slot == NONE && rec[i].threadId == t + 1 && rec[i].created == created[t] &&
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
        if
        :: slot == NONE ->
            /* Full: records of dead threads that surely hold no level are
               reused; what they may hold is counted on. */
            i = 0;
            do
            :: i < SLOTS ->
                st = rec[i].state;
                if
                :: rec[i].threadId != 0 && IsDead(i) && ReusableWhenDead(st, rec[i].threadId == ownerThreadId) ->
                    hl = rec[i].heldLevels;
                    Share(st, false);
#ifndef TODAY_REAP
                    possiblePhantoms = possiblePhantoms + most;
#endif
                    rec[i].state = kSlotUnclaimed;
                    rec[i].threadId = 0;
                    if :: slot == NONE -> slot = i :: else -> skip fi
                :: else -> skip
                fi;
                i++
            :: else -> break
            od
        :: else -> skip
        fi;
        if
        :: slot != NONE && rec[slot].threadId == 0 ->
            rec[slot].threadId = t + 1;
            rec[slot].life = life[t];
            rec[slot].created = created[t];
            rec[slot].heldLevels = 0;
            rec[slot].state = kSlotIdle
        :: else -> skip
        fi;
        i = 0; sure = 0; most = 0
        };
        LeaveRecovery()
    :: else -> slot = NONE
    fi;
    if
    :: slot == NONE -> tls = NOSLOT; Mark(t)
    :: else -> tls = slot + 1; Unmark(t)
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
    :: tls >= NOSLOT -> slot = NONE
    :: tls != 0 && tls < NOSLOT -> slot = tls - 1
    :: tls == 0 -> ClaimSlot(t); TLS = tls
    fi
}

inline TryEnterAs(t, slot, attempt) {
    if
    :: ownerThreadId == t + 1 &&
       ((slot != NONE && rec[slot].state == kSlotOwning) || (slot == NONE && tls > NOSLOT)) ->
        SetState(slot, kSlotReentering);
        d_step { lockCount++; levels[t]++ };
        recursionCount++;
        SetState(slot, kSlotOwning);
        attempt = OWNED
    :: else ->
        SetState(slot, kSlotSpinning);
        atomic {
            if
            :: lockCount == 0 -> lockCount = 1; levels[t]++; got = true
            :: else -> got = false
            fi
        };
        if
        :: got ->
            SetState(slot, kSlotClaiming);
            ClaimOwnerField(t, slot, got);
            if :: got -> attempt = OWNED :: else -> attempt = COUNTED fi
        :: else ->
            SetState(slot, kSlotIdle);
            attempt = BUSY
        fi
    fi
}

inline TakeOverDeadOwner(t, slot, ownerSeen, acquired) {
    TryRecovery(t, got);
    if
    :: got ->
        owner = ownerThreadId;
        JudgeOwner(t, slot, owner, gone, deadRec);
        if
        :: owner == ownerSeen && gone ->
            if
            :: deadRec != NONE ->
                st = rec[deadRec].state;
                Share(st, true);
                /* noted before the owner field changes */
                rec[deadRec].heldLevels = sure;
                rec[deadRec].state = kSlotOwning
            :: else ->
                sure = (recursionCount > 0 -> recursionCount : 1);
                most = recursionCount + 1
            fi;
            atomic {
                if
                :: ownerThreadId == ownerSeen -> ownerThreadId = t + 1; Own(t); got = true
                :: else -> got = false
                fi
            };
            if
            :: got ->
                HeldBy(t, slot);
                wakeEvent = 0;
                if
                :: deadRec == NONE ->
                    possiblePhantoms = possiblePhantoms + most;
                    Withdraw(sure);
                    possiblePhantoms = possiblePhantoms - sure
                :: else -> skip
                fi;
                Settle(t, slot);
                acquired = true
            :: else -> skip
            fi
        :: else -> skip
        fi;
        LeaveRecovery()
    :: else -> skip
    fi
}

inline ClaimUnowned(t, slot, acquired) {
    TryRecovery(t, got);
    if
    :: got ->
        /* Nobody owns it: claimed when no live thread has a step to make
           and every live thread keeps a record (so a level nobody accounts
           for was left by a thread that died). */
        ok = OnlyRecordingPeers() && ownerThreadId == 0;
#ifdef TODAY_CLAIM
        c = lockCount;
        live = 1;
        deadMost = 0;
        evidence = false;
#endif
        i = 0;
        do
        :: i < SLOTS ->
            d_step {
                st = rec[i].state;
                if
                :: i == slot || rec[i].threadId == 0 || st == kSlotUnclaimed -> skip
                :: IsDead(i) ->
#ifdef TODAY_CLAIM
                    hl = rec[i].heldLevels;
                    Share(st, false);
                    deadMost = deadMost + most;
                    evidence = evidence || st == kSlotSpinning || st == kSlotClaiming ||
                               st == kSlotWaiting || st == kSlotReleasing ||
                               st == kSlotSignalling || st == kSlotAnnouncing
#else
                    skip
#endif
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
#ifdef TODAY_CLAIM
        /* Today: every level accounted for by records (the phantoms counted
           nowhere), and a dead thread in a hand-over as proof. */
        ok = ok && evidence && c <= live + deadMost;
#endif
        if
        :: ok ->
            ClaimOwnerField(t, slot, got);
            if
            :: got ->
                wakeEvent = 0;
                Settle(t, slot);
                acquired = true
            :: else -> skip
            fi
        :: else -> skip
        fi;
        d_step { i = 0; c = 0; live = 0; deadMost = 0; ok = false; evidence = false };
        LeaveRecovery()
    :: else -> skip
    fi
}

inline WaitForOwnership(t, slot, acquired, vanished) {
    suspected = 0;
    provenBefore = false;
    acquired = false;
    vanished = false;
    do
    :: acquired || vanished -> break
    :: else ->
        atomic {
            if
            :: wakeEvent -> wakeEvent = 0; got = true
            :: else -> got = false
            fi
        };
        if
        :: got ->
            ClaimOwnerField(t, slot, got);
            if
            :: got ->
                acquired = true;
                NeedsSettling(slot, needs);
                if
                :: needs -> SettleWhileOwning(t, slot)
                :: else -> skip
                fi
            :: else -> skip
            fi
        :: else ->
            if
            :: lockCount == 0 -> vanished = true
            :: else ->
                owner = ownerThreadId;
                if
                :: owner != 0 ->
                    provenBefore = false;
                    JudgeOwner(t, slot, owner, gone, deadRec);
                    if
                    :: !gone -> suspected = 0
                    :: gone && suspected != owner -> suspected = owner
                    :: gone && suspected == owner -> TakeOverDeadOwner(t, slot, suspected, acquired)
                    fi
                :: else ->
                    suspected = 0;
                    if
                    :: OnlyRecordingPeers() && provenBefore -> ClaimUnowned(t, slot, acquired)
                    :: else -> skip
                    fi;
                    provenBefore = OnlyRecordingPeers()
                fi
            fi
        fi
    od
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
            SetState(slot, kSlotWaiting);
            if
            :: c == 1 -> ClaimOwnerField(t, slot, acquired)
            :: else -> skip
            fi
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
    od
}

inline Enter(t, isTry, entered) {
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
    :: entered && TLS >= NOSLOT -> TLS++
    :: else -> skip
    fi;
    if
    :: entered -> assert(ownerThreadId == t + 1 && recursionCount == levels[t])
    :: else -> skip
    fi
}

/* A hint, read without the mutex: a stale record stands for a dead one, and
   levels beyond what the owner and the records that may wait hold, for
   levels of threads whose records are gone, or that kept none. */
inline NeedsSettling(slot, needs) {
    d_step {
        needs = possiblePhantoms > 0;
        live = recursionCount;
        i = 0;
        do
        :: i < SLOTS ->
            needs = needs || (i != slot && rec[i].threadId != 0 && rec[i].state != kSlotIdle &&
                              rec[i].state != kSlotUnclaimed && IsDead(i));
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
    }
}

inline Leave(t) {
    tls = TLS;
    slot = (tls != 0 && tls < NOSLOT -> tls - 1 : NONE);
    assert(ownerThreadId == t + 1 && recursionCount == levels[t]);
    if
    :: slot == NONE && tls > NOSLOT -> TLS--
    :: else -> skip
    fi;
    if
    :: recursionCount > 1 ->
        SetState(slot, kSlotLeaving);
        recursionCount--;
        d_step { lockCount--; levels[t]-- };
        SetState(slot, kSlotOwning)
    :: else ->
        if
        :: lockCount > 1 ->
            NeedsSettling(slot, needs);
            if :: needs -> SettleWhileOwning(t, slot) :: else -> skip fi
        :: else -> skip
        fi;
        SetState(slot, kSlotReleasing);
        recursionCount = 0;
        d_step { ownerThreadId = 0; Disown(t) };
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
        SetState(slot, kSlotIdle)
    fi
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

proctype Thread(byte t) {
    byte me = incarnation[t];
    byte tlsOf[2];               /* TLS of copy 0 and copy 1 of the module */
    byte copy, tls, slot, round, attempt, c, owner, suspected, deadRec, sure, most;
    byte i, j, st, hl, live, deadSure, deadMost, deadSet;
    byte before[SLOTS];
    bool got, gone, vanished, counted, entered, innerEntered, isTry, nested;
    bool exact, ok, evidence, aliveRecord, runs, provenBefore, needs;
#ifdef BAD_EVENT
    bool badEvent;
    if :: t == 0 -> badEvent = true :: else -> skip fi;
#endif
    {
        round = 0;
        do
        :: round < ROUNDS ->
            /* thread 0 may nest a level, thread 1 may only try */
            if
            :: t == 1 && TRY -> if :: isTry = true :: isTry = false fi
            :: else -> isTry = false
            fi;
            if
            :: t == 0 && NESTED -> if :: nested = true :: nested = false fi
            :: else -> nested = false
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
            round++
        :: else -> break
        od;
        ForgetCurrentThread(t);
        atomic {
            running[t] = false;
            lifeOwned[life[t]] = false;
            Unmark(t);
            done++
        };
        if
        :: t == JANITOR && !unaccountable && !(LEGACY && deaths > 0) ->
            /* after the last death, the lock is back in its uncontended form */
            assert(lockCount == 0 && ownerThreadId == 0 && holders == 0)
        :: else -> skip
        fi
    } unless { incarnation[t] != me }
}

proctype Legacy() {
    byte t = LEGACY_T;
    byte round, c;
    bool got;
    round = 0;
    do
    :: round < ROUNDS ->
        atomic {
            if
            :: lockCount == 0 -> lockCount = 1; levels[t]++; got = true
            :: else -> got = false
            fi
        };
        if
        :: !got ->
            atomic { lockCount++; levels[t]++; c = lockCount };
            if
            :: c != 1 -> atomic { wakeEvent -> wakeEvent = 0 }
            :: else -> skip
            fi
        :: else -> skip
        fi;
        atomic { ownerThreadId = t + 1; Own(t) };
        recursionCount = 1;
        assert(ownerThreadId == t + 1);
        recursionCount = 0;
        d_step { ownerThreadId = 0; Disown(t) };
        atomic { lockCount--; levels[t]--; c = lockCount };
        if
        :: c > 0 -> wakeEvent = 1
        :: else -> skip
        fi;
        round++
    :: else -> break
    od;
    running[t] = false;
    done++
}

inline Start(t) {
    life[t] = nextLife;
    lifeOwned[nextLife] = true;
    nextLife++;
    running[t] = true;
    run Thread(t)
}

/* Ends thread v at its next step, with its process or alone. */
inline Kill(v, process) {
    incarnation[v]++;
    lifeOwned[life[v]] = false;
    if :: recoveryMutex == v + 1 -> recoveryMutex = 0 :: else -> skip fi;
    if :: believesOwner[v] -> Disown(v) :: else -> skip fi;
    deadLevels = deadLevels + levels[v];
    levels[v] = 0;
    if
    :: process -> Unmark(v)
    :: else -> unaccountable = unaccountable || marking[v]; marking[v] = false
    fi;
    deaths++;
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
#define Killable(v) (deaths < DEATHS && running[v] && v < VICTIMS)

active proctype Killer() {
end:
    do
    :: atomic { Killable(0) -> Kill(0, true) }
    :: atomic { Killable(0) && (!marking[0] || KILL_UNRECORDED) -> Kill(0, false) }
    :: atomic { Killable(1) -> Kill(1, true) }
    :: atomic { Killable(1) && (!marking[1] || KILL_UNRECORDED) -> Kill(1, false) }
    od
}

init {
    byte t;
    atomic {
        t = 0;
        do
        :: t < THREADS -> Start(t); t++
        :: else -> break
        od;
        if
        :: LEGACY -> running[LEGACY_T] = true; run Legacy()
        :: else -> skip
        fi
    };
    done == THREADS + LEGACY;
    atomic { done = 0; Start(JANITOR) }
}
