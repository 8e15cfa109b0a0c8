// Win32 side of the platform layer: the call gate of callGuarded, a frame of
// this module's own around each call into a library of another build.
//
//   extern "C" int tarsis_call_gate(void (*call)(void*), void* context, CallFault* fault);
//
// returns 1 when call returned and 0 when an exception reached the gate. The
// gate is written in assembly because GCC has no structured-exception
// blocks; tarsis_gate_note and tarsis_gate_filter (platform_win32.cpp) note
// the exception into *fault while it is dispatched.
//
// x86-64: the gate's unwind data names the C runtime's __C_specific_handler
// and one scope over the call, whose filter is tarsis_gate_filter and whose
// target is the gate's failure exit. The system's unwinder then unwinds the
// library's frames and resumes there with the gate's frame restored. The
// fault pointer sits in the gate's frame at kGateFaultOffset (32: past the
// callee's home area), where the filter finds it from the establisher frame.
//
// i686: frames of handlers are chained from FS:[0]. The gate links a
// registration record on its own stack: next, handler, then what the handler
// needs to resume here: the fault pointer (+8) and the gate's EBP (+12). The
// handler notes the exception, has RtlUnwind run the handlers of every record
// above the gate's (their cleanups) and unlink them, then restores the gate's
// stack and registers itself and jumps to the failure exit, which unlinks the
// gate's record. It never returns to the dispatcher: a C++ exception is not
// continuable.
#include "support/platform.h"

namespace plat {

extern "C" int tarsis_call_gate(GuardedCall call, void* context, CallFault* fault);

bool callGuarded(GuardedCall call, void* context, CallFault& fault)
{
    return tarsis_call_gate(call, context, &fault) != 0;
}

} // namespace plat

#if defined(__x86_64__)
asm(R"(
    .text
    .p2align 4
    .globl tarsis_call_gate
    .def tarsis_call_gate; .scl 2; .type 32; .endef
    .seh_proc tarsis_call_gate
tarsis_call_gate:
    subq $56, %rsp
    .seh_stackalloc 56
    .seh_endprologue
    movq %r8, 32(%rsp)                  # the fault record, for the filter
    movq %rcx, %rax
    movq %rdx, %rcx
.Ltarsis_gate_begin:
    callq *%rax
    nop                                 # keeps the return address inside the scope
.Ltarsis_gate_end:
    movl $1, %eax
    addq $56, %rsp
    ret
.Ltarsis_gate_caught:
    xorl %eax, %eax
    addq $56, %rsp
    ret
    .seh_handler __C_specific_handler, @except
    .seh_handlerdata
    .long 1                             # one scope: begin, end, filter, target
    .rva .Ltarsis_gate_begin, .Ltarsis_gate_end, tarsis_gate_filter, .Ltarsis_gate_caught
    .text
    .seh_endproc
)");
#elif defined(__i386__)
asm(R"(
    .text
    .p2align 4
    .globl _tarsis_call_gate
    .def _tarsis_call_gate; .scl 2; .type 32; .endef
_tarsis_call_gate:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    pushl %ebp                          # record +12: this frame
    pushl 16(%ebp)                      # record +8: the fault record
    pushl $_tarsis_gate_handler         # record +4
    pushl %fs:0                         # record +0: the next record
    movl %esp, %fs:0
    pushl 12(%ebp)
    call *8(%ebp)
    leal -28(%ebp), %esp                # the record, whatever the callee did to ESP
    movl $1, %eax
.Ltarsis_gate_exit:
    movl (%esp), %ecx
    movl %ecx, %fs:0
    addl $16, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret

    .p2align 4
    .def _tarsis_gate_handler; .scl 3; .type 32; .endef
_tarsis_gate_handler:
    movl 4(%esp), %eax                  # the exception record
    testl $6, 4(%eax)                   # being unwound: nothing to clean up here
    jnz .Ltarsis_gate_search
    movl 8(%esp), %ecx                  # the gate's registration record
    pushl %eax
    pushl 8(%ecx)
    call _tarsis_gate_note
    addl $8, %esp
    movl 8(%esp), %ecx
    pushl %ecx                          # kept: RtlUnwind restores ESP, not every register
    pushl $0
    pushl 12(%esp)
    pushl $.Ltarsis_gate_unwound
    pushl %ecx
    call _RtlUnwind@16
.Ltarsis_gate_unwound:
    popl %ecx
    movl %ecx, %esp                     # back on the gate's frame, FS:[0] its record
    movl 12(%ecx), %ebp
    xorl %eax, %eax
    jmp .Ltarsis_gate_exit
.Ltarsis_gate_search:
    movl $1, %eax                       # ExceptionContinueSearch
    ret
)");
#else
#error "no call gate for this processor"
#endif
