/*
 * int32_t QuorvelProbeCall(const void* fn, const uint32_t* args, int32_t count,
 *                          int32_t* stack_change, int32_t skew)   (cdecl)
 *
 * Pushes args[count-1] .. args[0] (last argument first), calls fn, and stores
 * in *stack_change how far the stack pointer after the call lies from where it
 * was before the pushes: 0 when the callee removed its arguments (stdcall),
 * -4 * count when it left them (cdecl). Returns fn's result. At the call the
 * stack pointer lies `skew` bytes (0, 4, 8 or 12) below a multiple of 16:
 * Windows promises a function only a 4-byte aligned stack. Written in
 * assembly because a compiler re-adjusts the stack around calls on its own.
 */
    .text
    .globl _QuorvelProbeCall
_QuorvelProbeCall:
    pushl %ebp
    movl  %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl  %esp, %edi
    movl  12(%ebp), %esi
    movl  16(%ebp), %ecx
    andl  $-16, %esp
    subl  $64, %esp
    leal  (%esp,%ecx,4), %esp
    subl  24(%ebp), %esp
    movl  %esp, %ebx
1:  testl %ecx, %ecx
    jz    2f
    decl  %ecx
    pushl (%esi,%ecx,4)
    jmp   1b
2:  call  *8(%ebp)
    movl  %esp, %ecx
    subl  %ebx, %ecx
    movl  20(%ebp), %edx
    movl  %ecx, (%edx)
    movl  %edi, %esp
    popl  %edi
    popl  %esi
    popl  %ebx
    popl  %ebp
    ret
