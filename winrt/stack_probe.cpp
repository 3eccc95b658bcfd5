// Stack probe for frames larger than a page. Windows commits a thread's stack one guard
// page at a time, so a function that reserves more than 4 KiB of locals must touch each page
// in order, from the top down, before it uses the space. The compiler calls this with the
// frame size in EAX; it touches the pages and returns with the general registers and ESP
// as they were (the caller subtracts EAX itself; only the flags change).
asm(".text\n"
    ".globl ___chkstk_ms\n"
    "___chkstk_ms:\n"
    "    pushl %ecx\n"
    "    pushl %eax\n"
    "    leal 12(%esp), %ecx\n" // ESP of the caller, before its call
    "1:  cmpl $0x1000, %eax\n"
    "    jb 2f\n"
    "    subl $0x1000, %ecx\n"
    "    orl $0, (%ecx)\n"
    "    subl $0x1000, %eax\n"
    "    jmp 1b\n"
    "2:  subl %eax, %ecx\n"
    "    orl $0, (%ecx)\n"
    "    popl %eax\n"
    "    popl %ecx\n"
    "    ret\n");
