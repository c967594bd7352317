sub
