// int vct_msvc_guarded_call(void (*fn)(void*), void* arg, void* state)
//
// Calls fn(arg) inside a scope that the system's __C_specific_handler guards,
// as MSVC does for __try/__except: the scope table entry covers the call,
// names vct_msvc_guard_filter as the filter, and .Lcaught as the handler.
// The filter finds `state` at offset 32 of the establisher frame (this
// function's stack pointer after its prologue). Returns 1 when fn returned,
// 0 when the filter accepted an exception and the frames above were unwound.
        .text
        .p2align 4
        .globl  vct_msvc_guarded_call
        .def    vct_msvc_guarded_call; .scl 2; .type 32; .endef
        .seh_proc vct_msvc_guarded_call
vct_msvc_guarded_call:
        .seh_handler __C_specific_handler, @except
        subq    $56, %rsp               // shadow space, the state slot, alignment
        .seh_stackalloc 56
        .seh_endprologue
        movq    %r8, 32(%rsp)
        movq    %rcx, %rax
        movq    %rdx, %rcx
.Lscope_begin:
        callq   *%rax
        nop                             // keeps the return address inside the scope
.Lscope_end:
        movl    $1, %eax
        addq    $56, %rsp
        ret
.Lcaught:
        xorl    %eax, %eax
        addq    $56, %rsp
        ret
        .seh_handlerdata
        .long   1                       // scope count
        .rva    .Lscope_begin
        .rva    .Lscope_end
        .rva    vct_msvc_guard_filter
        .rva    .Lcaught
        .text
        .seh_endproc
