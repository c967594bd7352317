prog.sno
