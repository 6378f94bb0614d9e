'''
A decoder for Velkaro's tests that the library refuses to load (it lacks
reset()), so that a test sees the user told why.
'''

from .pd import Decoder
